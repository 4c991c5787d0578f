# Windows build: vorninst.exe and the tests of the Win32 host, run under Wine.
enable_language(RC)
set(VORN_CXX_WARNINGS $<$<COMPILE_LANGUAGE:CXX>:${VORN_WARNINGS}>)
# Only system DLLs at run time.
if(MSVC)
  set(VORN_STATIC "")
  set(VORN_STRIP "")
else()
  set(VORN_STATIC -static -static-libgcc -static-libstdc++)
  set(VORN_STRIP -s)  # users get no symbols
endif()
set(VORN_RESOURCES ${CMAKE_CURRENT_SOURCE_DIR}/res/vorninst.rc)
set_source_files_properties(${VORN_RESOURCES} PROPERTIES
  OBJECT_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/res/ids.h;${CMAKE_CURRENT_SOURCE_DIR}/res/messages.def;${CMAKE_CURRENT_SOURCE_DIR}/res/controls.def;${CMAKE_CURRENT_SOURCE_DIR}/res/vorninst.ico;${CMAKE_CURRENT_SOURCE_DIR}/res/vorninst.manifest")

# The window, the dialogs and host.h on Win32; objects, since the logic
# library and they call each other.
add_library(vorn_win32 OBJECT src/win32/main_window.cpp src/win32/host_win32.cpp src/win32/drive_prompts.cpp)
target_include_directories(vorn_win32 PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_options(vorn_win32 PRIVATE ${VORN_CXX_WARNINGS})

add_executable(vorninst WIN32 src/win32/win_main.cpp $<TARGET_OBJECTS:vorn_win32> ${VORN_RESOURCES})
target_include_directories(vorninst PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/res)
target_compile_options(vorninst PRIVATE ${VORN_CXX_WARNINGS})
# comctl32, oleacc, oleaut32 and uuid: the system's prompts on the card closed.
set(VORN_WIN32_LIBRARIES shell32 ole32 advapi32 comctl32 oleacc oleaut32 uuid)
target_link_libraries(vorninst PRIVATE vorn_logic ${VORN_WIN32_LIBRARIES})
target_link_options(vorninst PRIVATE ${VORN_STATIC} ${VORN_STRIP})

# The run command's stand-in for Windows' own format.com, which Wine lacks;
# scripts/run.sh builds it and puts it into its Wine prefix. Nothing for a
# Windows build, nor for the tests.
if(CMAKE_CROSSCOMPILING)
  add_executable(vorn_demo_format EXCLUDE_FROM_ALL scripts/demo/format_com.cpp)
  set_target_properties(vorn_demo_format PROPERTIES OUTPUT_NAME format SUFFIX .com
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/demo)
  target_compile_options(vorn_demo_format PRIVATE ${VORN_CXX_WARNINGS})
  target_link_options(vorn_demo_format PRIVATE ${VORN_STATIC})
endif()

# Without a display the program cannot make its window, and says so with its
# exit code.
if(CMAKE_CROSSCOMPILING_EMULATOR)
  add_test(NAME wine.Program.EndsWithAnErrorWhenItHasNoWindow
    COMMAND sh -c "\"$0\" \"$1\"; test $? -eq 1" ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:vorninst>)
  set_tests_properties(wine.Program.EndsWithAnErrorWhenItHasNoWindow PROPERTIES
    ENVIRONMENT VORN_NO_DISPLAY=1 TIMEOUT 60)
endif()

# Calls whose effect only a real PC shows, not Wine: no system error boxes,
# a window alive while format.com runs, the dialog keyboard interface, COM
# for the shell, the system's prompts on the card closed (the shell's
# AutoPlay question, a task dialog's texts). The program must import each.
if(CMAKE_OBJDUMP)
  set(VORN_REAL_PC_IMPORTS SetErrorMode MsgWaitForMultipleObjects EnableWindow DefDlgProcA
    CoInitializeEx CoUninitialize SetWinEventHook ChangeWindowMessageFilterEx AccessibleObjectFromWindow)
  add_test(NAME win32.Program.ImportsTheCallsARealPcNeeds
    COMMAND sh -c [[imports=$("$0" -p "$1") || exit 1; shift
for name; do
  printf '%s\n' "$imports" | grep -qw "$name" || { echo "vorninst.exe does not import $name"; exit 1; }
done]] ${CMAKE_OBJDUMP} $<TARGET_FILE:vorninst> ${VORN_REAL_PC_IMPORTS})
endif()

# GoogleTest from Debian's sources, cross-built; elsewhere an installed one,
# or no tests at all when there is none.
set(VORN_GTEST_SOURCES /usr/src/googletest CACHE PATH "GoogleTest sources to build the Wine tests with")
if(EXISTS ${VORN_GTEST_SOURCES}/CMakeLists.txt)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${VORN_GTEST_SOURCES} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set(VORN_GTEST gtest)
else()
  find_package(GTest)
  if(NOT GTest_FOUND)
    message(STATUS "No GoogleTest: building vorninst.exe without its tests")
    return()
  endif()
  set(VORN_GTEST GTest::gtest)
endif()

# A stand-in for the system's format.com, which the tests put into the Wine
# prefix's system folder (and beside a copy of the program, as a decoy).
add_executable(vorn_format_stand_in tests/win32/stand_in/format_com.cpp)
set_target_properties(vorn_format_stand_in PROPERTIES OUTPUT_NAME format SUFFIX .com)
target_include_directories(vorn_format_stand_in PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
target_compile_options(vorn_format_stand_in PRIVATE ${VORN_CXX_WARNINGS})
target_link_options(vorn_format_stand_in PRIVATE ${VORN_STATIC})

file(GLOB VORN_WIN32_TEST_SOURCES CONFIGURE_DEPENDS tests/win32/*.cpp)
add_executable(vorn_win32_tests ${VORN_WIN32_TEST_SOURCES} $<TARGET_OBJECTS:vorn_win32> ${VORN_RESOURCES})
target_include_directories(vorn_win32_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/res ${CMAKE_CURRENT_SOURCE_DIR}/tests)
target_compile_options(vorn_win32_tests PRIVATE ${VORN_CXX_WARNINGS})
target_link_libraries(vorn_win32_tests PRIVATE vorn_logic ${VORN_GTEST} ${VORN_WIN32_LIBRARIES})
target_link_options(vorn_win32_tests PRIVATE ${VORN_STATIC})
if(NOT MSVC)
  # The tests' own code and GoogleTest unoptimised: they compile in a third
  # less time. The program's objects they link are the optimised ones.
  target_compile_options(vorn_win32_tests PRIVATE -O0)
  # <windows.h> and GoogleTest parsed once for all the tests, not once each.
  target_precompile_headers(vorn_win32_tests PRIVATE "${CMAKE_CURRENT_SOURCE_DIR}/src/win32/windows_clean.h"
    <gtest/gtest.h> <string> <vector>)
  if(TARGET gtest)
    target_compile_options(gtest PRIVATE -O0)
  endif()
endif()
# The tests start the built program and the stand-in, found beside them.
add_dependencies(vorn_win32_tests vorninst vorn_format_stand_in)

# Listed when ctest starts, under Wine, in the prefix that scripts/test.sh sets up.
include(GoogleTest)
gtest_discover_tests(vorn_win32_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 300
  TEST_PREFIX "wine." PROPERTIES TIMEOUT 120)
