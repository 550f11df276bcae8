/* Builds hidapi's windows/hidapi_descriptor_reconstruct.c on its own. Within
   hidapi it is compiled as part of hid.c, which first brings in NTSTATUS
   (ntdef.h); the same is done here. */
#ifdef _WIN32
#include <windows.h>
#include <ntdef.h>
#endif
#include "hidapi_descriptor_reconstruct.c"
