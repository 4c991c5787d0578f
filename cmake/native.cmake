# Native build: the logic against the simulated host, with sanitizers.
set(VORN_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
target_compile_options(vorn_logic PRIVATE ${VORN_SANITIZERS})
target_link_options(vorn_logic PUBLIC ${VORN_SANITIZERS})

find_package(GTest REQUIRED)

file(GLOB VORN_SIM_SOURCES CONFIGURE_DEPENDS tests/sim/*.cpp)
add_library(vorn_sim STATIC ${VORN_SIM_SOURCES})
target_link_libraries(vorn_sim PUBLIC vorn_logic GTest::gtest)
target_compile_options(vorn_sim PRIVATE ${VORN_SANITIZERS})

file(GLOB VORN_TEST_SOURCES CONFIGURE_DEPENDS tests/*.cpp)
add_executable(vorn_tests ${VORN_TEST_SOURCES})
target_link_libraries(vorn_tests PRIVATE vorn_sim GTest::gtest_main)
target_compile_options(vorn_tests PRIVATE ${VORN_SANITIZERS})

include(GoogleTest)
gtest_discover_tests(vorn_tests DISCOVERY_TIMEOUT 60)
