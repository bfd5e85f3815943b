# DLLs that are not known DLLs on every system the product supports are
# delay-loaded: they load on the first call, after start-up has restricted DLL
# loading to the system folder, so a DLL of the same name planted beside the
# executable (in a downloads folder) never runs. Known DLLs (kernel32, user32,
# gdi32, advapi32, shell32, ole32, oleaut32, shlwapi, msvcrt, ...) stay static
# imports; the image check (scripts/check_product_image.py) fails on any other.
#
# For each DLL below a delay-load library is made from mingw's import library
# at configure time, and an imported target of the DLL's own name points to
# it: every `target_link_libraries(... urlmon)` in the tree links the delay
# library. A DLL that the product starts to use and that is missing here shows
# up in the image check, which names it.
set(STUB_DELAY_LOAD_DLLS urlmon wininet winhttp msi crypt32 version iphlpapi wintrust)

# Every program that links one of them gets the linker script fragment that
# keeps the delay-import tables whole.
set(stub_delay_sections "${CMAKE_SOURCE_DIR}/cmake/delay_load.ld")
add_library(stub_delay_load_sections INTERFACE)
target_link_options(stub_delay_load_sections INTERFACE "-Wl,-T,${stub_delay_sections}")

set(STUB_DELAY_LIB_DIR "${CMAKE_BINARY_DIR}/delayload")
set(stub_delay_script "${CMAKE_SOURCE_DIR}/scripts/make_delay_lib.py")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${stub_delay_script}")
file(MAKE_DIRECTORY "${STUB_DELAY_LIB_DIR}")
foreach(dll IN LISTS STUB_DELAY_LOAD_DLLS)
  find_library(STUB_IMPLIB_${dll} NAMES "lib${dll}.a" REQUIRED NO_CACHE)
  set(out "${STUB_DELAY_LIB_DIR}/lib${dll}_delay.a")
  if(NOT EXISTS "${out}" OR "${stub_delay_script}" IS_NEWER_THAN "${out}" OR "${STUB_IMPLIB_${dll}}" IS_NEWER_THAN "${out}")
    execute_process(
      COMMAND python3 "${stub_delay_script}" --dll ${dll} --implib "${STUB_IMPLIB_${dll}}" --out "${out}"
              --nm "${CMAKE_NM}" --dlltool "${CMAKE_DLLTOOL}" --objcopy "${CMAKE_OBJCOPY}"
      RESULT_VARIABLE made)
    if(NOT made EQUAL 0)
      message(FATAL_ERROR "could not make the delay-load library for ${dll}")
    endif()
  endif()
  add_library(${dll} STATIC IMPORTED GLOBAL)
  set_target_properties(${dll} PROPERTIES IMPORTED_LOCATION "${out}"
                        INTERFACE_LINK_LIBRARIES stub_delay_load_sections)
endforeach()
