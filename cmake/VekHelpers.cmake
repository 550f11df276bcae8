# vek_library(NAME PORTABLE a.cc ... WIN a_win.cc ... DEPS lib ... WIN_LIBS lib ...)
# Portable sources are built for every target; the *_win.cc sources and the
# Windows system libraries only for Windows.
function(vek_library name)
  cmake_parse_arguments(ARG "" "" "PORTABLE;WIN;DEPS;WIN_LIBS" ${ARGN})
  set(sources ${ARG_PORTABLE})
  if(WIN32)
    list(APPEND sources ${ARG_WIN})
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  if(WIN32 AND ARG_WIN_LIBS)
    target_link_libraries(${name} PUBLIC ${ARG_WIN_LIBS})
  endif()
endfunction()

# vek_test(NAME SOURCES ... LIBS ... [LABELS ...])
# One test program, registered as one CTest test (under Wine for the MinGW build,
# through CMAKE_CROSSCOMPILING_EMULATOR).
function(vek_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE
    VEK_SHARED_TESTDATA="${PROJECT_SOURCE_DIR}/../shared/testdata"
    VEK_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data")
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600)
  if(ARG_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
  endif()
endfunction()
