# Native build: the logic against the simulated host, with sanitizers (off
# only for scripts/bench.sh, which times the program).
option(VORN_SANITIZE "Build the logic and its tests with AddressSanitizer and UBSan" ON)
if(VORN_SANITIZE)
  set(VORN_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
endif()
target_compile_options(vorn_logic PRIVATE ${VORN_SANITIZERS})
target_link_options(vorn_logic PUBLIC ${VORN_SANITIZERS})

find_package(GTest REQUIRED)

# The Linux host. What the simulated PC shares with it (the dialogs, the
# table read from a disk, files through mtools, format.com as mkfs.fat) is a
# library of its own; host.h on Linux (below) comes as objects, since the
# logic and it call each other.
find_package(PkgConfig REQUIRED)
pkg_check_modules(MOUNT REQUIRED IMPORTED_TARGET mount)
add_library(vorn_linux_tools STATIC src/linux/process.cpp src/linux/protocol.cpp src/linux/dialog.cpp src/linux/templates.cpp
  src/linux/disk_layout.cpp src/linux/card_files.cpp src/linux/fat_format.cpp src/linux/pc_files.cpp
  src/linux/volume_facts.cpp)
target_sources(vorn_linux_tools PRIVATE src/linux/catalogue_text.cpp)
target_include_directories(vorn_linux_tools PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_options(vorn_linux_tools PRIVATE ${VORN_WARNINGS} ${VORN_SANITIZERS})
target_link_options(vorn_linux_tools PUBLIC ${VORN_SANITIZERS})

# The simulated host goes into the test program itself: it implements host.h,
# which the logic library needs, so it must not come before it as a library.
file(GLOB VORN_SIM_SOURCES CONFIGURE_DEPENDS tests/sim/*.cpp)
file(GLOB VORN_TEST_SOURCES CONFIGURE_DEPENDS tests/*.cpp)
add_executable(vorn_tests ${VORN_TEST_SOURCES} ${VORN_SIM_SOURCES})
target_include_directories(vorn_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/tests)
target_link_libraries(vorn_tests PRIVATE vorn_logic vorn_linux_tools GTest::gtest_main GTest::gtest)
target_compile_options(vorn_tests PRIVATE ${VORN_WARNINGS} ${VORN_SANITIZERS})
# GoogleTest's header and the library's that most tests include, parsed once
# for all of a target's tests rather than once for each.
set(VORN_TEST_HEADERS <gtest/gtest.h> <algorithm> <filesystem> <fstream> <functional> <memory> <sstream> <string>
  <vector>)
target_precompile_headers(vorn_tests PRIVATE ${VORN_TEST_HEADERS})

include(GoogleTest)
gtest_discover_tests(vorn_tests DISCOVERY_TIMEOUT 60)

# The benchmark of scripts/bench.sh: no test, so CTest never runs it.
add_executable(vorn_bench EXCLUDE_FROM_ALL bench/bench.cpp tests/card_fixture.cpp ${VORN_SIM_SOURCES})
target_include_directories(vorn_bench PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/tests)
target_link_libraries(vorn_bench PRIVATE vorn_logic vorn_linux_tools GTest::gtest)
target_compile_options(vorn_bench PRIVATE ${VORN_WARNINGS})

add_library(vorn_linux_host OBJECT src/linux/block_devices.cpp src/linux/card_claim.cpp src/linux/host_state.cpp
  src/linux/host_linux.cpp src/linux/card_contents.cpp)
target_include_directories(vorn_linux_host PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_options(vorn_linux_host PRIVATE ${VORN_WARNINGS} ${VORN_SANITIZERS})
target_link_libraries(vorn_linux_host PUBLIC PkgConfig::MOUNT)

# vorninst on Linux: the window in a terminal and the scripted commands.
# Optimised and without sanitizers for users (-DCMAKE_BUILD_TYPE=Release
# -DVORN_SANITIZE=OFF, as scripts/run.sh builds it); the tests run it as the
# sanitizer build makes it.
add_executable(vorninst src/terminal/main.cpp src/terminal/addon_folder.cpp src/terminal/command_line.cpp src/terminal/console.cpp
  src/terminal/screen.cpp src/terminal/serve.cpp src/terminal/terminal.cpp $<TARGET_OBJECTS:vorn_linux_host>)
find_package(Threads REQUIRED)  # serve reads the window on a thread of its own
target_link_libraries(vorninst PRIVATE vorn_logic vorn_linux_tools PkgConfig::MOUNT Threads::Threads)
target_compile_options(vorninst PRIVATE ${VORN_WARNINGS} ${VORN_SANITIZERS})

# The program on loop devices (or image files where losetup is refused).
file(GLOB VORN_LINUX_TEST_SOURCES CONFIGURE_DEPENDS tests/linux/*.cpp)
add_executable(vorn_linux_tests ${VORN_LINUX_TEST_SOURCES} $<TARGET_OBJECTS:vorn_linux_host>)
target_include_directories(vorn_linux_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/tests)
target_link_libraries(vorn_linux_tests PRIVATE vorn_logic vorn_linux_tools PkgConfig::MOUNT GTest::gtest_main GTest::gtest)
target_compile_options(vorn_linux_tests PRIVATE ${VORN_WARNINGS} ${VORN_SANITIZERS})
target_precompile_headers(vorn_linux_tests PRIVATE ${VORN_TEST_HEADERS})
# The terminal's tests run the program itself.
add_dependencies(vorn_linux_tests vorninst)
target_compile_definitions(vorn_linux_tests PRIVATE VORN_PROGRAM="$<TARGET_FILE:vorninst>")
target_link_libraries(vorn_linux_tests PRIVATE util)  # forkpty
# One at a time among themselves: they attach loop devices and mount file
# systems. The logic's tests touch neither, so they run beside them; and
# these, the longest chain, start first.
gtest_discover_tests(vorn_linux_tests TEST_PREFIX "linux." DISCOVERY_TIMEOUT 60
  PROPERTIES RESOURCE_LOCK vorn_loop_devices COST 1000 TIMEOUT 600)

# The window on Linux (Qt 6 Widgets), built where Qt is found: a second front
# end that runs as the user and leaves the cards to the engine (vorninst
# serve). It takes the protocol and the templates' table, never the host.
option(VORN_WINDOW "Build the Linux window, vorninst-window, where Qt 6 is found" ON)
if(VORN_WINDOW)
  find_package(Qt6 QUIET COMPONENTS Widgets Test)
endif()
if(VORN_WINDOW AND Qt6Widgets_FOUND)
  file(GLOB VORN_WINDOW_SOURCES CONFIGURE_DEPENDS src/window/*.cpp src/window/*.h)
  list(FILTER VORN_WINDOW_SOURCES EXCLUDE REGEX "/main\\.cpp$")
  add_library(vorn_window_ui STATIC ${VORN_WINDOW_SOURCES} src/linux/protocol.cpp src/linux/templates.cpp)
  set_target_properties(vorn_window_ui PROPERTIES AUTOMOC ON)
  target_include_directories(vorn_window_ui PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_options(vorn_window_ui PRIVATE ${VORN_WARNINGS} ${VORN_SANITIZERS})
  target_link_options(vorn_window_ui PUBLIC ${VORN_SANITIZERS})
  target_link_libraries(vorn_window_ui PUBLIC Qt6::Widgets)
  qt_add_resources(vorn_window_ui vorn_window_icon PREFIX "/" BASE res FILES res/vorninst.ico)
  # Qt's widget headers take longer to parse than the window's own code:
  # parsed once for the window's sources.
  target_precompile_headers(vorn_window_ui PRIVATE <QApplication> <QComboBox> <QDialog> <QFileDialog> <QLabel>
    <QLineEdit> <QMainWindow> <QMessageBox> <QProcess> <QPushButton> <QRadioButton> <QRegularExpression> <QString>
    <QTimer> <QWidget>)
  set_source_files_properties(src/linux/protocol.cpp src/linux/templates.cpp PROPERTIES SKIP_PRECOMPILE_HEADERS ON)

  add_executable(vorninst-window src/window/main.cpp)
  target_link_libraries(vorninst-window PRIVATE vorn_window_ui)
  target_compile_options(vorninst-window PRIVATE ${VORN_WARNINGS} ${VORN_SANITIZERS})
  target_precompile_headers(vorninst-window REUSE_FROM vorn_window_ui)
  # Run from the build folder, it starts the vorninst beside it.
  add_dependencies(vorninst-window vorninst)

  if(Qt6Test_FOUND)
    add_executable(vorn_window_stand_in tests/window/stand_in_engine.cpp)
    target_compile_options(vorn_window_stand_in PRIVATE ${VORN_WARNINGS})
    add_executable(vorn_window_tests tests/window/window_test.cpp)
    set_target_properties(vorn_window_tests PROPERTIES AUTOMOC ON)
    target_link_libraries(vorn_window_tests PRIVATE vorn_window_ui Qt6::Test)
    target_compile_options(vorn_window_tests PRIVATE ${VORN_WARNINGS} ${VORN_SANITIZERS})
    if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
      # QSKIP's message is QtTest's variadic macro called with one argument.
      target_compile_options(vorn_window_tests PRIVATE -Wno-gnu-zero-variadic-macro-arguments)
    endif()
    target_compile_definitions(vorn_window_tests PRIVATE VORN_STAND_IN="$<TARGET_FILE:vorn_window_stand_in>"
      VORN_PROGRAM="$<TARGET_FILE:vorninst>")
    add_dependencies(vorn_window_tests vorn_window_stand_in vorninst)
    add_test(NAME window COMMAND vorn_window_tests)
    # The end-to-end case attaches a loop device, as the Linux tests do.
    set_tests_properties(window PROPERTIES LABELS window ENVIRONMENT QT_QPA_PLATFORM=offscreen RESOURCE_LOCK vorn_loop_devices COST 1000 TIMEOUT 300)
  endif()
endif()
