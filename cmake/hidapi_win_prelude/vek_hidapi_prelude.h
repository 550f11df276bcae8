/* Forced in front of hidapi's reconstruction source on Windows: its headers use
   NTSTATUS, which MinGW-w64 only declares through winternl.h. */
#include <windows.h>
#include <winternl.h>
