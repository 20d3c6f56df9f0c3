# orvo_bookbinder_core: the generation run, the filter query, the eBook
# package, the LIT writer driving and the clean-up, without the bus.

# The templates and the stylesheet are compiled in.
set(ORVO_BB_TEMPLATES ${CMAKE_CURRENT_SOURCE_DIR}/templates)
file(READ ${ORVO_BB_TEMPLATES}/toc.html ORVO_TOC_TEMPLATE)
file(READ ${ORVO_BB_TEMPLATES}/content.html ORVO_CONTENT_TEMPLATE)
file(READ ${ORVO_BB_TEMPLATES}/package.opf ORVO_PACKAGE_TEMPLATE)
file(READ ${ORVO_BB_TEMPLATES}/eBook.css ORVO_STYLESHEET)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/templates.cpp.in ${CMAKE_CURRENT_BINARY_DIR}/templates.cpp @ONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${ORVO_BB_TEMPLATES}/toc.html ${ORVO_BB_TEMPLATES}/content.html
  ${ORVO_BB_TEMPLATES}/package.opf ${ORVO_BB_TEMPLATES}/eBook.css)

# The stylesheet is a data file of the installation, in the program's temp/.
configure_file(${ORVO_BB_TEMPLATES}/eBook.css ${ORVO_BIN_DIR}/temp/eBook.css COPYONLY)

# The shared test data (calibre's oracle script, the news corpus).
if(NOT ORVO_SHARED_DIR)
  if(DEFINED ENV{ORVO_SHARED})
    set(ORVO_SHARED_DIR "$ENV{ORVO_SHARED}")
  elseif(EXISTS "${CMAKE_SOURCE_DIR}/../shared")
    set(ORVO_SHARED_DIR "${CMAKE_SOURCE_DIR}/../shared")
  else()
    get_filename_component(ORVO_SHARED_DIR "${CMAKE_SOURCE_DIR}/../../shared" ABSOLUTE)
  endif()
endif()

# The writer library's interface (litgen/litgen.h) comes with litgen/.
set(ORVO_LITGEN_INCLUDE ${CMAKE_SOURCE_DIR}/litgen/include)

add_library(orvo_bookbinder_core STATIC
  package.cpp pictures.cpp cover.cpp device_copy.cpp delivery.cpp mail.cpp cleanup.cpp generation_run.cpp writer_driver.cpp epub_volume.cpp
  ${CMAKE_CURRENT_BINARY_DIR}/templates.cpp)
target_include_directories(orvo_bookbinder_core PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_include_directories(orvo_bookbinder_core PRIVATE ${ORVO_LITGEN_INCLUDE})
target_link_libraries(orvo_bookbinder_core PUBLIC orvo_store orvo_common orvo_drives orvo_secrets orvo_http pugixml::pugixml Qt6::Core Qt6::Gui PkgConfig::LIBZIP ${CMAKE_DL_LIBS})

if(BUILD_TESTING)
# A writer that records what it is fed, for checking the driving order.
add_library(bookbinder_recording_writer SHARED tests/recording_writer.cpp)
target_include_directories(bookbinder_recording_writer PRIVATE ${ORVO_LITGEN_INCLUDE})
set_target_properties(bookbinder_recording_writer PROPERTIES
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})

add_executable(bookbinder_core_tests
  tests/package_test.cpp tests/cleanup_test.cpp
  tests/writer_driver_test.cpp tests/generation_run_test.cpp tests/calibre_test.cpp tests/epub_test.cpp tests/device_copy_test.cpp tests/mail_test.cpp
  tests/news_fixture.cpp tests/qt_main.cpp ${CMAKE_SOURCE_DIR}/common/tests/test_support.cpp)
target_include_directories(bookbinder_core_tests PRIVATE ${CMAKE_SOURCE_DIR}/common/tests ${ORVO_LITGEN_INCLUDE})
target_link_libraries(bookbinder_core_tests PRIVATE orvo_bookbinder_core orvo_pg_testing GTest::gtest Qt6::Test)
target_compile_definitions(bookbinder_core_tests PRIVATE
  ORVO_BIN_DIR="${ORVO_BIN_DIR}"
  LITGEN_ORACLE="${CMAKE_SOURCE_DIR}/litgen/tests/oracle.py"
  LITGEN_TEST_PICTURE="${CMAKE_SOURCE_DIR}/litgen/tests/vectors/pkg/pic1.jpg")
add_dependencies(bookbinder_core_tests bookbinder_recording_writer)
target_compile_definitions(bookbinder_core_tests PRIVATE
  RECORDING_WRITER="$<TARGET_FILE:bookbinder_recording_writer>")
if(TARGET litgen)
  add_dependencies(bookbinder_core_tests litgen)  # the calibre-checked runs load it
endif()
gtest_discover_tests(bookbinder_core_tests DISCOVERY_TIMEOUT 60)
endif()

# Generation speed against calibre: prints figures, never run as a test.
add_executable(bookbinder_bench bench/generate_bench.cpp)
target_link_libraries(bookbinder_bench PRIVATE orvo_bookbinder_core Qt6::Gui Qt6::Test)
target_compile_definitions(bookbinder_bench PRIVATE ORVO_SHARED_DIR="${ORVO_SHARED_DIR}")
if(TARGET litgen)
  add_dependencies(bookbinder_bench litgen)
endif()
