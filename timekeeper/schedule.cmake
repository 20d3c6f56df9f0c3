# Schedules, the due check and the service logic of Timekeeper, as a library
# the program, its tests and the reader's schedule pages share.
add_library(orvo_schedule STATIC
  ${CMAKE_CURRENT_LIST_DIR}/schedule.cpp
  ${CMAKE_CURRENT_LIST_DIR}/due.cpp)
target_include_directories(orvo_schedule PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(orvo_schedule PUBLIC orvo_common)

if(BUILD_TESTING)
add_executable(schedule_tests
  ${CMAKE_CURRENT_LIST_DIR}/tests/schedule_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/due_test.cpp
  ${PROJECT_SOURCE_DIR}/common/tests/test_support.cpp)
target_include_directories(schedule_tests PRIVATE ${PROJECT_SOURCE_DIR}/common/tests)
target_link_libraries(schedule_tests PRIVATE orvo_schedule GTest::gtest_main)
gtest_discover_tests(schedule_tests DISCOVERY_TIMEOUT 60)
endif()

# The service logic, over an engine interface the program fills with bus
# engines and the tests with fakes.
add_library(orvo_runner STATIC
  ${CMAKE_CURRENT_LIST_DIR}/engines.h
  ${CMAKE_CURRENT_LIST_DIR}/runner.cpp
  ${CMAKE_CURRENT_LIST_DIR}/service.cpp)
target_link_libraries(orvo_runner PUBLIC orvo_schedule Qt6::Core)

if(BUILD_TESTING)
add_executable(runner_tests
  ${CMAKE_CURRENT_LIST_DIR}/tests/runner_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/service_test.cpp
  ${PROJECT_SOURCE_DIR}/common/tests/test_support.cpp)
target_include_directories(runner_tests PRIVATE ${PROJECT_SOURCE_DIR}/common/tests)
target_link_libraries(runner_tests PRIVATE orvo_runner Qt6::Test GTest::gtest)
gtest_discover_tests(runner_tests DISCOVERY_TIMEOUT 60)
endif()
