/* The handful of Windows types hidapi's report-descriptor reconstruction
   needs, so the reconstruction (pure byte work on a preparsed-data blob) also
   builds natively for the unit tests. Widths match the Windows ABI. */
#ifndef VEK_HIDAPI_NATIVE_SHIM_WINDOWS_H_
#define VEK_HIDAPI_NATIVE_SHIM_WINDOWS_H_

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

typedef uint8_t UCHAR;
typedef uint8_t BOOLEAN;
typedef uint16_t USHORT;
typedef uint32_t ULONG;
typedef int32_t LONG;
typedef int64_t LONG64;
typedef int8_t CHAR;
typedef int16_t INT16;
typedef int32_t INT32;
typedef uint8_t UINT8;
typedef uint16_t UINT16;
typedef uint32_t UINT32;
typedef uint16_t WCHAR;
typedef void* PVOID;
typedef void* HANDLE;
typedef int32_t NTSTATUS;
#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif
#define __stdcall

#endif
