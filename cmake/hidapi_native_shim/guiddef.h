/* See windows.h beside this file. */
#ifndef VEK_HIDAPI_NATIVE_SHIM_GUIDDEF_H_
#define VEK_HIDAPI_NATIVE_SHIM_GUIDDEF_H_

#include <stdint.h>

typedef struct _GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} GUID, *LPGUID;

#endif
