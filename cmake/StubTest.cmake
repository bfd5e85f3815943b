# stub_add_test(NAME name SOURCES ... LIBS ... [MANIFEST])
# One GoogleTest executable per unit, linked with exactly the libraries it tests,
# discovered by CTest and run under Wine.
function(stub_add_test)
  cmake_parse_arguments(T "MANIFEST" "NAME" "SOURCES;LIBS" ${ARGN})
  set(srcs ${T_SOURCES})
  if(T_MANIFEST)
    list(APPEND srcs "${STUB_TEST_RC}")
  endif()
  add_executable(${T_NAME} ${srcs})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} gmock gtest_main)
  target_include_directories(${T_NAME} PRIVATE "${CMAKE_SOURCE_DIR}/tests")
  gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
endfunction()
