# hidapi's report-descriptor reconstruction from Windows preparsed data, built
# from the pinned sources tools/setup unpacks (npm node-hid 3.4.0 carries
# hidapi 0.15.0). Only windows/hidapi_descriptor_reconstruct.c is compiled: it
# works on the preparsed-data bytes alone. Natively it builds against a few
# Windows type names (cmake/hidapi_native_shim), so the unit tests run it too.
if(TARGET hidapi_reconstruct)
  return()
endif()
set(VEK_HIDAPI_VERSION 0.15.0)
if(DEFINED ENV{VEK_CACHE_DIR})
  set(_vek_cache "$ENV{VEK_CACHE_DIR}")
elseif(DEFINED ENV{XDG_CACHE_HOME})
  set(_vek_cache "$ENV{XDG_CACHE_HOME}/vek_tool")
else()
  set(_vek_cache "$ENV{HOME}/.cache/vek_tool")
endif()
set(VEK_HIDAPI_DIR "${_vek_cache}/hidapi-${VEK_HIDAPI_VERSION}" CACHE PATH
    "hidapi ${VEK_HIDAPI_VERSION} sources (unpacked and checked by tools/setup)")
set(_vek_hidapi_source "${VEK_HIDAPI_DIR}/windows/hidapi_descriptor_reconstruct.c")
if(NOT EXISTS "${VEK_HIDAPI_DIR}/.verified" OR NOT EXISTS "${_vek_hidapi_source}")
  message(FATAL_ERROR "hidapi ${VEK_HIDAPI_VERSION} not found in ${VEK_HIDAPI_DIR}: run tools/setup")
endif()
add_library(hidapi_reconstruct STATIC "${PROJECT_SOURCE_DIR}/cmake/hidapi_reconstruct_unit.c")
target_include_directories(hidapi_reconstruct SYSTEM PUBLIC
  "${VEK_HIDAPI_DIR}/windows" "${VEK_HIDAPI_DIR}/hidapi")
if(NOT WIN32)
  target_include_directories(hidapi_reconstruct SYSTEM BEFORE PUBLIC
    "${PROJECT_SOURCE_DIR}/cmake/hidapi_native_shim")
elseif(MSVC)
  target_compile_options(hidapi_reconstruct PRIVATE
    "/FI${PROJECT_SOURCE_DIR}/cmake/hidapi_win_prelude/vek_hidapi_prelude.h")
else()
  target_compile_options(hidapi_reconstruct PRIVATE
    -include "${PROJECT_SOURCE_DIR}/cmake/hidapi_win_prelude/vek_hidapi_prelude.h")
endif()
# Linked statically into our programs: nothing to export from a DLL.
target_compile_definitions(hidapi_reconstruct PUBLIC HID_API_NO_EXPORT_DEFINE)
# Third-party code: its own warnings are not ours to fix.
if(MSVC)
  target_compile_options(hidapi_reconstruct PRIVATE /W0)
else()
  target_compile_options(hidapi_reconstruct PRIVATE -w)
endif()
set_target_properties(hidapi_reconstruct PROPERTIES C_STANDARD 11 POSITION_INDEPENDENT_CODE ON)
