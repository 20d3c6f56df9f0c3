# cmake -DRESULTS=build/test-results.xml -P scripts/check_skips.cmake
#
# Reads ctest's JUnit results and fails when a test skipped for any reason
# but an absent optional tool (calibre, epubcheck) or the absent optional
# shared corpus. A skip for anything else (a program not built, data not
# found, the clock) hides a fault, so CI must not stay green with it.
# Allowed skips say so in their message: "calibre is not installed",
# "epubcheck is not installed", "The shared corpus is not at ...".
if(NOT RESULTS OR NOT EXISTS "${RESULTS}")
  message(FATAL_ERROR "check_skips: no test results at '${RESULTS}' (run ctest with --output-junit)")
endif()
set(allowed "(calibre|epubcheck) is not installed|[Ss]hared corpus is not")

file(READ "${RESULTS}" xml)
string(ASCII 59 semicolon)
foreach(entity "lt <" "gt >" "quot \"" "apos '" "amp &")
  string(REPLACE " " ";" pair "${entity}")
  list(GET pair 0 from)
  list(GET pair 1 to)
  string(REPLACE "&${from}${semicolon}" "${to}" xml "${xml}")
endforeach()
# One list element per test case; ";" in the output would split elements.
string(REPLACE ";" "," xml "${xml}")
string(REPLACE "<testcase " ";<testcase " cases "${xml}")
set(bad 0)
set(allowed_count 0)
foreach(case IN LISTS cases)
  if(NOT case MATCHES "^<testcase name=\"([^\"]*)\"")
    continue()
  endif()
  set(name "${CMAKE_MATCH_1}")
  if(NOT case MATCHES "status=\"notrun\"" OR NOT case MATCHES "<skipped message=\"SKIP_REGULAR_EXPRESSION_MATCHED\"")
    continue()
  endif()
  set(why "")
  if(case MATCHES ": Skipped\n([^\n]*)")
    set(why "${CMAKE_MATCH_1}")
  endif()
  if(why MATCHES "${allowed}")
    math(EXPR allowed_count "${allowed_count} + 1")
    message(STATUS "check_skips: ${name} skipped (allowed): ${why}")
  else()
    math(EXPR bad "${bad} + 1")
    message(STATUS "check_skips: ${name} SKIPPED: ${why}")
  endif()
endforeach()
if(bad GREATER 0)
  message(FATAL_ERROR "check_skips: ${bad} test(s) skipped for a reason other than an absent optional tool or corpus")
endif()
message(STATUS "check_skips: no test skipped without cause (${allowed_count} allowed skip(s))")
