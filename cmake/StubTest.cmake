# Running the tests side by side (ctest -j). CTest runs every discovered case
# as its own process; two of them may run at once unless a resource lock keeps
# them apart. The locks, each named for what it guards:
#   <executable>    the cases of one executable: its fixtures' fixed names (a
#                   registry key, a folder, a file) are shared by its cases.
#                   The default; an executable whose cases share nothing says
#                   PARALLEL_CASES.
#   stub_instance   the single-instance mutex and what a run of the stub keeps
#                   in the prefix: the settings key, the kept log folder, the
#                   RunOnce value, the uninstall entry and its copy's folder,
#                   the host window's class; and Windows Installer, which
#                   runs one install at a time. Every test that builds an
#                   Application, starts a stub or runs msiexec.
#   telemetry_record  the shared telemetry service's record of requests, which
#                   a test reads from a mark onwards.
#   small_disk      the test servers' 1 MiB volume, which a disk-full case fills.
# What changes the prefix for every program at once (the system proxy) runs
# alone (RUN_SERIAL).

# stub_test_locks(TARGET executable LOCKS lock... [SERIAL])
# Sets the locks on every case CTest discovers in a GoogleTest executable.
# gtest_discover_tests passes a property only with one value, so the locks go
# in through a file CTest reads after the discovered list.
function(stub_test_locks)
  cmake_parse_arguments(L "SERIAL" "TARGET" "LOCKS" ${ARGN})
  set(props "")
  if(L_LOCKS)
    string(APPEND props " RESOURCE_LOCK \"${L_LOCKS}\"")
  endif()
  if(L_SERIAL)
    string(APPEND props " RUN_SERIAL TRUE")
  endif()
  set(file "${CMAKE_CURRENT_BINARY_DIR}/${L_TARGET}_locks.cmake")
  file(WRITE "${file}"
       "if(${L_TARGET}_TESTS)\n  set_tests_properties(\${${L_TARGET}_TESTS} PROPERTIES${props})\nendif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${file}")
endfunction()

# The locks of an executable's cases: its own unless PARALLEL_CASES, and the
# shared ones it names.
function(stub_default_locks out name parallel)
  set(locks ${ARGN})
  if(NOT parallel)
    list(APPEND locks ${name})
  endif()
  set(${out} ${locks} PARENT_SCOPE)
endfunction()

# stub_add_test(NAME name SOURCES ... LIBS ... [MANIFEST] [PARALLEL_CASES] [LOCKS lock...])
# One GoogleTest executable per unit, linked with exactly the libraries it tests,
# discovered by CTest and run under Wine.
function(stub_add_test)
  cmake_parse_arguments(T "MANIFEST;PARALLEL_CASES" "NAME" "SOURCES;LIBS;LOCKS" ${ARGN})
  set(srcs ${T_SOURCES})
  if(T_MANIFEST)
    list(APPEND srcs "${STUB_TEST_RC}")
  endif()
  add_executable(${T_NAME} ${srcs})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} gmock gtest_main)
  target_include_directories(${T_NAME} PRIVATE "${CMAKE_SOURCE_DIR}/tests")
  gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
  stub_default_locks(locks ${T_NAME} "${T_PARALLEL_CASES}" ${T_LOCKS})
  if(locks)
    stub_test_locks(TARGET ${T_NAME} LOCKS ${locks})
  endif()
endfunction()
