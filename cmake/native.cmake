# Native build: the logic against the simulated host, with sanitizers (off
# only for scripts/bench.sh, which times the program).
option(VORN_SANITIZE "Build the logic and its tests with AddressSanitizer and UBSan" ON)
if(VORN_SANITIZE)
  set(VORN_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
endif()
target_compile_options(vorn_logic PRIVATE ${VORN_SANITIZERS})
target_link_options(vorn_logic PUBLIC ${VORN_SANITIZERS})

find_package(GTest REQUIRED)

# The simulated host goes into the test program itself: it implements host.h,
# which the logic library needs, so it must not come before it as a library.
file(GLOB VORN_SIM_SOURCES CONFIGURE_DEPENDS tests/sim/*.cpp)
file(GLOB VORN_TEST_SOURCES CONFIGURE_DEPENDS tests/*.cpp)
add_executable(vorn_tests ${VORN_TEST_SOURCES} ${VORN_SIM_SOURCES})
target_include_directories(vorn_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/tests)
target_link_libraries(vorn_tests PRIVATE vorn_logic GTest::gtest_main GTest::gtest)
target_compile_options(vorn_tests PRIVATE ${VORN_WARNINGS} ${VORN_SANITIZERS})

include(GoogleTest)
gtest_discover_tests(vorn_tests DISCOVERY_TIMEOUT 60)

# The benchmark of scripts/bench.sh: no test, so CTest never runs it.
add_executable(vorn_bench EXCLUDE_FROM_ALL bench/bench.cpp tests/card_fixture.cpp ${VORN_SIM_SOURCES})
target_include_directories(vorn_bench PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/tests)
target_link_libraries(vorn_bench PRIVATE vorn_logic GTest::gtest)
target_compile_options(vorn_bench PRIVATE ${VORN_WARNINGS})
