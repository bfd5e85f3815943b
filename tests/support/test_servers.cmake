# The shared test servers (nginx and the fault-injecting server), started once
# per CTest run by a fixture and stopped by its cleanup step, even when tests
# fail. Include this file and use stub_add_server_test() for a test executable
# that talks to them.
include_guard(GLOBAL)

set(STUB_TEST_SERVERS_DIR "${CMAKE_BINARY_DIR}/test-servers" CACHE INTERNAL "")
set(STUB_TEST_SUPPORT_DIR "${CMAKE_SOURCE_DIR}/tests/support" CACHE INTERNAL "")

add_test(NAME test_servers_start
         COMMAND python3 "${STUB_TEST_SUPPORT_DIR}/servers.py" start "${STUB_TEST_SERVERS_DIR}")
set_tests_properties(test_servers_start PROPERTIES FIXTURES_SETUP stub_servers TIMEOUT 60)
add_test(NAME test_servers_stop
         COMMAND python3 "${STUB_TEST_SUPPORT_DIR}/servers.py" stop "${STUB_TEST_SERVERS_DIR}")
set_tests_properties(test_servers_stop PROPERTIES FIXTURES_CLEANUP stub_servers TIMEOUT 60)

add_library(stub_test_support STATIC "${STUB_TEST_SUPPORT_DIR}/test_servers.cpp")
target_include_directories(stub_test_support PUBLIC "${CMAKE_SOURCE_DIR}/tests")
target_link_libraries(stub_test_support PUBLIC gtest)

# stub_add_server_test(NAME name SOURCES ... LIBS ... [MANIFEST] [TIMEOUT s] [PARALLEL_CASES] [LOCKS lock...])
# As stub_add_test, and every discovered test needs the running servers.
function(stub_add_server_test)
  cmake_parse_arguments(T "MANIFEST;PARALLEL_CASES" "NAME;TIMEOUT" "SOURCES;LIBS;LOCKS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  set(srcs ${T_SOURCES})
  if(T_MANIFEST)
    list(APPEND srcs "${STUB_TEST_RC}")
  endif()
  add_executable(${T_NAME} ${srcs})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} stub_test_support gmock gtest_main)
  target_include_directories(${T_NAME} PRIVATE "${CMAKE_SOURCE_DIR}/tests")
  gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${T_TIMEOUT} FIXTURES_REQUIRED stub_servers
               ENVIRONMENT "STUB_TEST_SERVERS=${STUB_TEST_SERVERS_DIR}")
  stub_default_locks(locks ${T_NAME} "${T_PARALLEL_CASES}" ${T_LOCKS})
  if(locks)
    stub_test_locks(TARGET ${T_NAME} LOCKS ${locks})
  endif()
endfunction()
