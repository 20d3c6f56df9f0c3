# OPML import and export of the own sites (store/own_sites.h): files only, so that the reader can
# use them without the mask language.
add_library(orvo_own_sites STATIC ${CMAKE_CURRENT_LIST_DIR}/opml.cpp)
target_include_directories(orvo_own_sites PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(orvo_own_sites PUBLIC orvo_store pugixml::pugixml)

# The gathering engine: browser, item store, clean-up, catalogue updates and
# the run driver. The Gatherer program links it.
add_library(orvo_gatherer_engine STATIC
  ${CMAKE_CURRENT_LIST_DIR}/http_client.cpp
  ${CMAKE_CURRENT_LIST_DIR}/browser.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mask_plan.cpp
  ${CMAKE_CURRENT_LIST_DIR}/item_store.cpp
  ${CMAKE_CURRENT_LIST_DIR}/background.cpp
  ${CMAKE_CURRENT_LIST_DIR}/catalogue.cpp
  ${CMAKE_CURRENT_LIST_DIR}/catalogue_page.cpp
  ${CMAKE_CURRENT_LIST_DIR}/auto_news.cpp
  ${CMAKE_CURRENT_LIST_DIR}/run.cpp
  ${CMAKE_CURRENT_LIST_DIR}/feed_fetch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/work_pool.cpp
)
target_include_directories(orvo_gatherer_engine PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_SOURCE_DIR})
target_link_libraries(orvo_gatherer_engine PUBLIC orvo_store orvo_own_sites orvo_masks orvo_autoextract orvo_common orvo_http Qt6::Core CURL::libcurl Threads::Threads)

# The local news sites of the tests and the benchmark.
if(NOT TARGET PkgConfig::HTTPLIB)
  pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
endif()

if(BUILD_TESTING)
add_executable(gatherer_engine_tests
  ${CMAKE_CURRENT_LIST_DIR}/tests/engine_test_main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/fixture_server.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/engine_home.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/browser_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/mask_plan_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/item_store_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/catalogue_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/news_sites.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/run_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/site_farm.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/parallel_run_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/auto_news_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/own_sites_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/work_pool_test.cpp
  ${CMAKE_SOURCE_DIR}/common/tests/test_support.cpp
)
target_include_directories(gatherer_engine_tests PRIVATE ${CMAKE_SOURCE_DIR}/common/tests)
target_link_libraries(gatherer_engine_tests PRIVATE orvo_gatherer_engine orvo_pg_testing Qt6::Test GTest::gtest PkgConfig::HTTPLIB)
# The mask health tests read what orvo status shows of a run.
target_compile_definitions(gatherer_engine_tests PRIVATE ORVO_BIN_DIR="${ORVO_BIN_DIR}")
add_dependencies(gatherer_engine_tests orvo)
gtest_discover_tests(gatherer_engine_tests DISCOVERY_TIMEOUT 60
  PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")

# The Gatherer program on a private bus.
add_executable(gatherer_bus_tests
  ${CMAKE_CURRENT_LIST_DIR}/tests/gatherer_bus_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/shared_database_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/news_sites.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/site_farm.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/fixture_server.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tests/engine_home.cpp)
target_include_directories(gatherer_bus_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/tests ${CMAKE_SOURCE_DIR})
target_link_libraries(gatherer_bus_tests PRIVATE orvo_bus_testing orvo_pg_testing orvo_idl_gatherer orvo_store
  orvo_common PkgConfig::HTTPLIB GTest::gtest_main)
add_dependencies(gatherer_bus_tests Gatherer)
gtest_discover_tests(gatherer_bus_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
endif()

# Benchmarks over the engine and the test fixtures; they print figures (not tests).
function(orvo_engine_bench name)
  add_executable(${name}
    ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/bench/${name}.cpp ${ARGN}
    ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/tests/fixture_server.cpp
    ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/tests/engine_home.cpp
    ${CMAKE_SOURCE_DIR}/common/tests/test_support.cpp)
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/tests ${CMAKE_SOURCE_DIR}/common/tests)
  target_link_libraries(${name} PRIVATE orvo_gatherer_engine PkgConfig::HTTPLIB)
endfunction()
# A whole download against a local site.
orvo_engine_bench(engine_bench ${CMAKE_CURRENT_LIST_DIR}/tests/news_sites.cpp)
# A download of 20 sites at a time of 1, 4 and 8 sites; items/s.
orvo_engine_bench(parallel_bench ${CMAKE_CURRENT_LIST_DIR}/tests/site_farm.cpp)
# Own sites: an OPML of 500 feeds imported and downloaded with 1 and 8 lanes.
orvo_engine_bench(own_sites_bench)
target_compile_definitions(own_sites_bench PRIVATE ORVO_BIN_DIR="${ORVO_BIN_DIR}" ORVO_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
add_dependencies(own_sites_bench orvo)
# The catalogue update at 1k, 10k and 100k pairs.
orvo_engine_bench(catalogue_bench)
# Storing 10,000 items with pictures, one engine against two, on SQLite and PostgreSQL; items/s.
orvo_engine_bench(store_bench)
# Its server has the default settings, as a user's has (the tests' runs without fsync).
target_sources(store_bench PRIVATE ${CMAKE_SOURCE_DIR}/bench/pg_scratch.cpp)
target_include_directories(store_bench PRIVATE ${CMAKE_SOURCE_DIR}/bench)
