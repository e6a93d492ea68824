# GoogleTest from the Debian source package, built with whichever compiler this tree uses
# (natively, or cross for Windows, where the test programs then run through Wine).
set(UK_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
if(NOT TARGET gtest)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(${UK_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(t gtest gtest_main)
    if(TARGET ${t})
      target_compile_options(${t} PRIVATE -w)
    endif()
  endforeach()
endif()

# The main of the test programs (tests/common/uk_test_main.h): GoogleTest's, except that a program
# whose cases were all skipped ends with exit code 77, which ctest counts as skipped.
if(NOT TARGET uk_gtest_main)
  add_library(uk_gtest_main STATIC ${CMAKE_SOURCE_DIR}/tests/common/uk_test_main.cpp)
  target_include_directories(uk_gtest_main PUBLIC ${CMAKE_SOURCE_DIR}/tests/common)
  target_link_libraries(uk_gtest_main PUBLIC gtest)
endif()
set(UK_SKIPPED_EXIT_CODE 77)

# Windows trees: the Wine loader of this tree's architecture (the toolchain's emulator) and the
# environment every Windows test and set-up step runs with; shell drivers get the loader as $WINE.
if(UK_WINDOWS)
  set(UK_WINE ${CMAKE_CROSSCOMPILING_EMULATOR})
  set(UK_WINE_ENV "WINEPREFIX=${UK_WINEPREFIX}" "WINE=${UK_WINE}" "WINEDEBUG=-all")
endif()

# uk_add_test(NAME SOURCES ... [LIBS ...] [LABELS ...] [SERIAL])
# One test program is one ctest entry. Windows test programs run under Wine in the project's
# own prefix; SERIAL marks tests that share machine-wide state (registry, named objects, files).
# A program counts as skipped only when none of its cases ran to a result (all skipped, none
# failed: exit code 77); one with passed and skipped cases counts as passed and prints
# "uk-test: passed with N skipped", which scripts/test.sh reports. The skip is taken from the exit
# code and never from the output: ctest's SKIP_REGULAR_EXPRESSION overrides a failed exit code, so
# a program that printed a skip and then failed or crashed would have been counted as skipped.
function(uk_add_test name)
  cmake_parse_arguments(T "SERIAL" "TIMEOUT" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} gtest uk_gtest_main)
  if(UK_WINDOWS)
    target_link_libraries(${name} PRIVATE -static)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  set(env ${T_ENV})
  if(UK_WINDOWS)
    list(APPEND env "WINEPREFIX=${UK_WINEPREFIX}" "WINE=${UK_WINE}" "WINEDEBUG=-all,err+module"
         "WINEDLLOVERRIDES=mshtml=,mscoree=")
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${env}"
                       SKIP_RETURN_CODE ${UK_SKIPPED_EXIT_CODE})
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
  if(T_SERIAL)
    set_tests_properties(${name} PROPERTIES RUN_SERIAL ON)
  endif()
endfunction()

# uk_wine_winxp(TEST PROGRAM): before TEST runs, Wine reports Windows XP to PROGRAM (an .exe
# file name) alone, through its application-defaults key, so that the token library in it takes
# the direct device road without a key service while every other program of the prefix keeps the
# default version.
function(uk_wine_winxp test program)
  add_test(NAME ${test}_winxp
           COMMAND ${UK_WINE} reg add "HKCU\\Software\\Wine\\AppDefaults\\${program}"
                   /v Version /t REG_SZ /d winxp /f)
  set_tests_properties(${test}_winxp PROPERTIES FIXTURES_SETUP ${test}_winxp
                       ENVIRONMENT "${UK_WINE_ENV}")
  set_property(TEST ${test} APPEND PROPERTY FIXTURES_REQUIRED ${test}_winxp)
endfunction()

# uk_win32_runtime(TARGET): a Windows binary that must run on every Windows the deliverables
# support: statically linked against the win32-model C++ runtime (see
# cmake/link-win32-runtime.sh); its code must not use std::thread or std::mutex. Listed in the
# tree's win32-runtime.txt, which the checks of the built files read (imports Windows 2000 lacks).
function(uk_win32_runtime target)
  if(UK_WINDOWS)
    set_property(GLOBAL APPEND PROPERTY UK_WIN32_RUNTIME_BINARIES ${target})
    set_target_properties(${target} PROPERTIES
      RULE_LAUNCH_LINK "${CMAKE_SOURCE_DIR}/cmake/link-win32-runtime.sh")
    target_link_options(${target} PRIVATE -static)
  endif()
endfunction()

# uk_deliverable(TARGET): a Windows binary shipped to customers (listed in the tree's
# deliverables.txt, which the checks of the built files read and the setup installs), built as
# uk_win32_runtime. Support tools that customers do not get (ukeytool) are uk_win32_runtime only.
function(uk_deliverable target)
  if(UK_WINDOWS)
    set_property(GLOBAL APPEND PROPERTY UK_DELIVERABLES ${target})
    uk_win32_runtime(${target})
  endif()
endfunction()

# uk_add_token_test: Windows tests that run against the token emulator.
include(${CMAKE_CURRENT_LIST_DIR}/UkTokensim.cmake)

# uk_require_display(TEST): a Windows test that creates windows runs with DISPLAY=${UK_GUI_DISPLAY}
# and requires the ctest fixture "xvfb", which starts Xvfb there unless an X server already runs
# (scripts/test.sh starts one before Wine, since the first Wine process of a wineserver session
# decides whether the session has a display). uk_add_gui_test(NAME ...) is uk_add_test plus that.
set(UK_GUI_DISPLAY ":93" CACHE STRING "X display of the GUI tests")
function(uk_require_display name)
  set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT "DISPLAY=${UK_GUI_DISPLAY}")
  set_property(TEST ${name} APPEND PROPERTY FIXTURES_REQUIRED xvfb)
  get_property(have GLOBAL PROPERTY UK_XVFB_FIXTURE)
  if(have)
    return()
  endif()
  set_property(GLOBAL PROPERTY UK_XVFB_FIXTURE ON)
  set(script ${CMAKE_SOURCE_DIR}/tests/uicommon/xvfb-fixture.sh)
  add_test(NAME xvfb_start COMMAND bash ${script} start ${UK_GUI_DISPLAY} ${CMAKE_BINARY_DIR}/xvfb)
  add_test(NAME xvfb_stop COMMAND bash ${script} stop ${UK_GUI_DISPLAY} ${CMAKE_BINARY_DIR}/xvfb)
  set_tests_properties(xvfb_start PROPERTIES FIXTURES_SETUP xvfb TIMEOUT 30)
  set_tests_properties(xvfb_stop PROPERTIES FIXTURES_CLEANUP xvfb TIMEOUT 30)
endfunction()

function(uk_add_gui_test name)
  uk_add_test(${name} ${ARGN})
  uk_require_display(${name})
endfunction()
