# Warnings used for every target of this project.
function(zk_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter)
endfunction()

# zk_add_test_suite(<name> <sources>...): one GoogleTest program linked with the library's core and
# the shared test support (tests/support),
# registered with ctest (under Wine when cross-built).
function(zk_add_test_suite name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE zk_core zk_test_support GTest::gtest GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  zk_warnings(${name})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "WINEDEBUG=-all")
endfunction()

# zk_version_source(<target> <a.b.c.d> <VFT_DLL|VFT_APP> <out var>): the generated source that gives
# a file its version: a VERSIONINFO resource on Win32, the version record of
# platform/version_record.h (which the POSIX FileVersion reads) elsewhere.
function(zk_version_source target version filetype out)
  if(NOT version MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
    message(FATAL_ERROR "${target}: the version must be a.b.c.d, not '${version}'")
  endif()
  set(parts ${CMAKE_MATCH_1} ${CMAKE_MATCH_2} ${CMAKE_MATCH_3} ${CMAKE_MATCH_4})
  list(JOIN parts "," commas)
  if(WIN32)
    set(file ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
    file(CONFIGURE OUTPUT ${file} @ONLY CONTENT [[
#include <winver.h>
1 VERSIONINFO
FILEVERSION @commas@
PRODUCTVERSION @commas@
FILEFLAGSMASK 0x3F
FILEOS VOS_NT_WINDOWS32
FILETYPE @filetype@
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904B0"
    BEGIN
      VALUE "FileVersion", "@version@"
      VALUE "ProductVersion", "@version@"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x409, 1200
  END
END
]])
  else()
    set(file ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.cpp)
    set(header ${PROJECT_SOURCE_DIR}/src/platform/version_record.h)
    file(CONFIGURE OUTPUT ${file} @ONLY CONTENT [[
#include "@header@"
ZK_VERSION_RECORD(@commas@);
]])
  endif()
  set(${out} ${file} PARENT_SCOPE)
endfunction()
