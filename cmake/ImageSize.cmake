# cmake -DIMAGE=path -DSTRIP=strip-tool -DLIMIT=bytes -DCONFIG=build-type -DTHREAD_MODEL=model -P ImageSize.cmake
# Prints the size of a linked executable stripped of its symbols, before
# anything is appended to it, against the size it should stay within (a
# size-optimised win32-thread-model build is what ships; others only print
# the size).
get_filename_component(name "${IMAGE}" NAME)
set(copy "${IMAGE}.stripped")
execute_process(COMMAND "${STRIP}" --strip-all -o "${copy}" "${IMAGE}" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "image size: could not strip ${IMAGE}")
endif()
file(SIZE "${copy}" bytes)
file(REMOVE "${copy}")
math(EXPR kib "(${bytes} + 1023) / 1024")
if(NOT CONFIG STREQUAL "MinSizeRel" OR NOT THREAD_MODEL STREQUAL "win32")
  set(verdict "a ${CONFIG} build, ${THREAD_MODEL} threads; the ${LIMIT}-byte limit is for the product preset")
elseif(bytes GREATER LIMIT)
  set(verdict "over the ${LIMIT}-byte limit")
else()
  set(verdict "within the ${LIMIT}-byte limit")
endif()
message(STATUS "${name}: ${bytes} bytes (${kib} KiB) stripped, without its bundle: ${verdict}")
