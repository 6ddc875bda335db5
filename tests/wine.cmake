# The Windows build's tests, run under Wine: each test program on a private display with a
# Wine prefix of its own (support/with-wine.sh), label "wine".
#   core/*_test.cpp              the display-free logic, as one program
#   platform/win32/*_wintest.cpp the Windows services (registry, files) and the desktop layer
#   e2e/win32/*_wintest.cpp      the real penrika.exe filling a Win32 form (e2e/win32/TestForm)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_SOURCE_DIR}/support/with-wine.sh)
# GoogleTest from Debian's source package of it, built for Windows here.
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

add_library(penrika_testsupport STATIC support/TempHome.cpp support/ScratchDir.cpp
  support/FakeDesktop.cpp)
target_include_directories(penrika_testsupport PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(penrika_testsupport PUBLIC penrika_core gtest)

function(penrika_add_wine_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE penrika_testsupport gtest_main)
  target_compile_definitions(${name} PRIVATE
    PENRIKA_BINARY="$<TARGET_FILE:penrika>" PENRIKA_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS wine TIMEOUT 900)
endfunction()

file(GLOB core_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/core/*_test.cpp)
# The editor's Japanese sort order comes from the system's collation on Windows, which Wine
# does not have (its sort keys are not Windows' and not even consistent): not tested here.
list(FILTER core_tests EXCLUDE REGEX "/GridSort_test.cpp$")
penrika_add_wine_test(core_wintest ${core_tests})

# A plain Win32 form (no Qt) that the desktop and end-to-end tests fill.
add_executable(TestForm WIN32 e2e/win32/TestForm.cpp)
target_compile_options(TestForm PRIVATE -municode)
target_link_options(TestForm PRIVATE -municode)

file(GLOB platform_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/platform/win32/*_wintest.cpp)
foreach(f ${platform_tests})
  get_filename_component(name ${f} NAME_WE)
  penrika_add_wine_test(${name} ${f})
  target_compile_definitions(${name} PRIVATE PENRIKA_TEST_FORM="$<TARGET_FILE:TestForm>")
  add_dependencies(${name} TestForm)
endforeach()

file(GLOB e2e_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/e2e/win32/*_wintest.cpp)
foreach(f ${e2e_tests})
  get_filename_component(name ${f} NAME_WE)
  penrika_add_wine_test(${name} ${f})
  target_compile_definitions(${name} PRIVATE PENRIKA_TEST_FORM="$<TARGET_FILE:TestForm>")
  add_dependencies(${name} penrika TestForm)
endforeach()
