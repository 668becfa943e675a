# Read by CTest when the tests run: one test of each table of the unit
# tests (each TEST; a parametrized one's rows together), named as the
# table is, from the binary's own list, so that a table added is a test
# with no word here. UNIT_TESTS is the binary. The scanner reads
# POSIXLY_CORRECT once per process: the POSIX mode's tables run with it
# set, the others without. The tables on PostgreSQL (OnPostgres/...) need
# the tests' server: CMakeLists.txt runs them with it.
cmake_policy(VERSION 3.25)
execute_process(COMMAND "${UNIT_TESTS}" --gtest_list_tests
                OUTPUT_VARIABLE listing RESULT_VARIABLE listed)
if(NOT listed EQUAL 0)
  add_test(unit_tests_listed "${UNIT_TESTS}" --gtest_list_tests)
  return()
endif()
string(REPLACE "\n" ";" lines "${listing}")
set(suite "")
set(seen "")
foreach(line IN LISTS lines)
  if(line MATCHES "^([A-Za-z0-9_/]+)\\.$")
    set(suite "${CMAKE_MATCH_1}")
  elseif(line MATCHES "^  ([A-Za-z0-9_]+)" AND NOT suite STREQUAL "")
    set(table "${suite}.${CMAKE_MATCH_1}")
    if(NOT table IN_LIST seen AND NOT suite MATCHES "^OnPostgres")
      list(APPEND seen "${table}")
      add_test("${table}" "${UNIT_TESTS}" "--gtest_filter=${table}:${table}/*")
      if(suite STREQUAL "PosixMode")
        set_tests_properties("${table}" PROPERTIES ENVIRONMENT "POSIXLY_CORRECT=1")
      else()
        set_tests_properties("${table}" PROPERTIES ENVIRONMENT_MODIFICATION "POSIXLY_CORRECT=unset:")
      endif()
    endif()
  endif()
endforeach()
