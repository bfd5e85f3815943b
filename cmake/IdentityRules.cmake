# The rules the product's identity settings must meet, and what follows from
# them. Pure functions over variables of the calling scope, so that a script
# (cmake -P) can run them on values that would not configure.

# The value as a message shows it; a ";" would split the list of messages.
function(_stub_shown out value)
  string(REPLACE ";" "\\;" value "${value}")
  set(${out} "\"${value}\"" PARENT_SCOPE)
endfunction()

# A name that becomes a file name prefix, a folder name and a registry subkey:
# ASCII letters, digits, blanks, ".", "-" and "_"; a letter or digit first,
# no blank or "." last (Windows drops those from folder names).
function(_stub_check_name list_name variable)
  set(value "${${variable}}")
  _stub_shown(shown "${value}")
  string(LENGTH "${value}" length)
  if(length EQUAL 0 OR length GREATER 64 OR NOT value MATCHES "^[A-Za-z0-9][A-Za-z0-9 ._-]*$" OR value MATCHES "[ .]$")
    list(APPEND ${list_name} "${variable} ${shown}: 1 to 64 of A-Z a-z 0-9 blank . - _, beginning with a letter or digit and not ending in a blank or \".\"")
  endif()
  set(${list_name} "${${list_name}}" PARENT_SCOPE)
endfunction()

# Registry subkeys separated by single backslashes: printable ASCII without
# double quotes or semicolons, no empty component.
function(_stub_subkeys_sound out path)
  set(sound TRUE)
  if(path STREQUAL "" OR NOT path MATCHES "^[ !#-:<-~]+$" OR path MATCHES "(^\\\\)|(\\\\$)|(\\\\\\\\)")
    set(sound FALSE)
  endif()
  set(${out} ${sound} PARENT_SCOPE)
endfunction()

function(_stub_check_host list_name variable)
  set(value "${${variable}}")
  _stub_shown(shown "${value}")
  string(LENGTH "${value}" length)
  if(length GREATER 253 OR NOT value MATCHES "^[]A-Za-z0-9.:[-]*$")
    list(APPEND ${list_name} "${variable} ${shown}: a host name or address (A-Z a-z 0-9 . - : [ ]), or empty for none")
  endif()
  set(${list_name} "${${list_name}}" PARENT_SCOPE)
endfunction()

function(_stub_check_port list_name variable)
  set(value "${${variable}}")
  _stub_shown(shown "${value}")
  set(sound FALSE)
  if(value MATCHES "^[0-9]+$")
    string(LENGTH "${value}" length)
    if(length LESS 6 AND value GREATER 0 AND value LESS 65536)
      set(sound TRUE)
    endif()
  endif()
  if(NOT sound)
    list(APPEND ${list_name} "${variable} ${shown}: a port number from 1 to 65535")
  endif()
  set(${list_name} "${${list_name}}" PARENT_SCOPE)
endfunction()

# The version resource's free texts: printable ASCII without double quotes
# (the resource compiler's string syntax), at most 128 characters; empty
# takes the default.
function(_stub_check_text list_name variable)
  set(value "${${variable}}")
  _stub_shown(shown "${value}")
  string(LENGTH "${value}" length)
  if(length GREATER 128 OR NOT value MATCHES "^[ !#-~]*$")
    list(APPEND ${list_name} "${variable} ${shown}: at most 128 printable ASCII characters without double quotes, or empty for the default")
  endif()
  set(${list_name} "${${list_name}}" PARENT_SCOPE)
endfunction()

# stub_identity_problems(<out>): one message per unsound setting; empty when
# every setting is sound.
function(stub_identity_problems out)
  set(problems)
  _stub_check_name(problems STUB_PRODUCT_NAME)
  _stub_check_name(problems STUB_PUBLISHER)
  # The manifest's assembly version holds four 16-bit numbers; a larger one
  # would stop Windows from starting the program at all.
  set(version_sound FALSE)
  if(STUB_PRODUCT_VERSION MATCHES "^(0|[1-9][0-9]*)\\.(0|[1-9][0-9]*)(\\.(0|[1-9][0-9]*))?(\\.(0|[1-9][0-9]*))?$")
    set(version_sound TRUE)
    string(REPLACE "." ";" numbers "${STUB_PRODUCT_VERSION}")
    foreach(number IN LISTS numbers)
      string(LENGTH "${number}" length)
      if(length GREATER 5 OR number GREATER 65535)
        set(version_sound FALSE)
      endif()
    endforeach()
  endif()
  if(NOT version_sound)
    _stub_shown(shown "${STUB_PRODUCT_VERSION}")
    list(APPEND problems "STUB_PRODUCT_VERSION ${shown}: two to four numbers from 0 to 65535 joined by dots, without leading zeros, such as 22.0.0.0")
  endif()

  # The settings are the user's: only a key under HKEY_CURRENT_USER.
  set(base "${STUB_SETTINGS_BASE_KEY}")
  set(base_sound FALSE)
  if(base MATCHES "^([^\\\\]*)\\\\(.*)$")
    string(TOUPPER "${CMAKE_MATCH_1}" root)
    _stub_subkeys_sound(subkeys_sound "${CMAKE_MATCH_2}")
    if((root STREQUAL "HKEY_CURRENT_USER" OR root STREQUAL "HKCU") AND subkeys_sound)
      set(base_sound TRUE)
    endif()
  endif()
  if(NOT base_sound)
    _stub_shown(shown "${base}")
    list(APPEND problems "STUB_SETTINGS_BASE_KEY ${shown}: HKEY_CURRENT_USER (or HKCU) and at least one subkey, joined by single backslashes, no double quotes")
  endif()

  if(NOT "${STUB_PENDING_RESTART_KEY}" STREQUAL "")
    _stub_subkeys_sound(pending_sound "${STUB_PENDING_RESTART_KEY}")
    if(NOT pending_sound OR STUB_PENDING_RESTART_KEY MATCHES "^[Hh][Kk]")
      _stub_shown(shown "${STUB_PENDING_RESTART_KEY}")
      list(APPEND problems "STUB_PENDING_RESTART_KEY ${shown}: a subkey path of HKEY_CURRENT_USER without the root, such as SOFTWARE\\Brelvo\\Tessary\\22.0\\Setup, or empty")
    endif()
  endif()

  # The executable's name: a file name without blanks, which a command line
  # or a download link would otherwise have to quote.
  if(NOT "${STUB_EXE_NAME}" STREQUAL "")
    string(LENGTH "${STUB_EXE_NAME}" length)
    if(length GREATER 64 OR NOT STUB_EXE_NAME MATCHES "^[A-Za-z0-9][A-Za-z0-9._-]*$" OR STUB_EXE_NAME MATCHES "[.]$"
       OR STUB_EXE_NAME MATCHES "[.][Ee][Xx][Ee]$")
      _stub_shown(shown "${STUB_EXE_NAME}")
      list(APPEND problems "STUB_EXE_NAME ${shown}: 1 to 64 of A-Z a-z 0-9 . - _ without \".exe\", beginning with a letter or digit, or empty for <product without blanks>Setup")
    endif()
  endif()
  foreach(text STUB_COMPANY STUB_DESCRIPTION STUB_COPYRIGHT)
    _stub_check_text(problems ${text})
  endforeach()

  foreach(service TELEMETRY PAGEVIEW TOKEN_SERVICE)
    _stub_check_host(problems STUB_${service}_HOST)
    _stub_check_port(problems STUB_${service}_PORT)
  endforeach()
  set(${out} "${problems}" PARENT_SCOPE)
endfunction()

# stub_identity_derive(): from sound settings, sets in the calling scope
#   STUB_PRODUCT_MAJOR_VERSION   the version up to its first "."
#   STUB_SETTINGS_BASE           the base key with the root spelled in full
#   STUB_PENDING_RESTART_SUBKEY  the setting, or SOFTWARE\<publisher>\<name>\<major>.<minor>\Setup
#   STUB_MANIFEST_NAME           <publisher>.<name>.Stub without blanks (the manifest's assembly name)
#   STUB_MANIFEST_VERSION        the version in four numbers
#   STUB_VERSION_COMMAS          the same joined by commas (the version resource's numbers)
#   STUB_EXE_BASE                the product name without blanks (the demo's and tools' executables)
#   STUB_EXE_OUTPUT_NAME         STUB_EXE_NAME, or <STUB_EXE_BASE>Setup
#   STUB_COMPANY_TEXT, STUB_DESCRIPTION_TEXT, STUB_COPYRIGHT_TEXT
#                                the version resource's texts: the settings, or the publisher,
#                                "<product> Setup" and "Copyright (C) <publisher>"
macro(stub_identity_derive)
  string(REPLACE " " "" STUB_MANIFEST_NAME "${STUB_PUBLISHER}.${STUB_PRODUCT_NAME}.Stub")
  set(STUB_MANIFEST_VERSION "${STUB_PRODUCT_VERSION}")
  string(REGEX MATCHALL "\\." _stub_dots "${STUB_PRODUCT_VERSION}")
  list(LENGTH _stub_dots _stub_dot_count)
  while(_stub_dot_count LESS 3)
    string(APPEND STUB_MANIFEST_VERSION ".0")
    math(EXPR _stub_dot_count "${_stub_dot_count} + 1")
  endwhile()
  string(REPLACE "." "," STUB_VERSION_COMMAS "${STUB_MANIFEST_VERSION}")
  string(REPLACE " " "" STUB_EXE_BASE "${STUB_PRODUCT_NAME}")
  if("${STUB_EXE_NAME}" STREQUAL "")
    set(STUB_EXE_OUTPUT_NAME "${STUB_EXE_BASE}Setup")
  else()
    set(STUB_EXE_OUTPUT_NAME "${STUB_EXE_NAME}")
  endif()
  set(STUB_COMPANY_TEXT "${STUB_COMPANY}")
  if("${STUB_COMPANY_TEXT}" STREQUAL "")
    set(STUB_COMPANY_TEXT "${STUB_PUBLISHER}")
  endif()
  set(STUB_DESCRIPTION_TEXT "${STUB_DESCRIPTION}")
  if("${STUB_DESCRIPTION_TEXT}" STREQUAL "")
    set(STUB_DESCRIPTION_TEXT "${STUB_PRODUCT_NAME} Setup")
  endif()
  set(STUB_COPYRIGHT_TEXT "${STUB_COPYRIGHT}")
  if("${STUB_COPYRIGHT_TEXT}" STREQUAL "")
    set(STUB_COPYRIGHT_TEXT "Copyright (C) ${STUB_PUBLISHER}")
  endif()
  string(REGEX MATCH "^[0-9]+\\.[0-9]+" _stub_major_minor "${STUB_PRODUCT_VERSION}")
  string(REGEX MATCH "^[0-9]+" STUB_PRODUCT_MAJOR_VERSION "${STUB_PRODUCT_VERSION}")
  string(FIND "${STUB_SETTINGS_BASE_KEY}" "\\" _stub_root_end)
  string(SUBSTRING "${STUB_SETTINGS_BASE_KEY}" ${_stub_root_end} -1 _stub_subkeys)
  set(STUB_SETTINGS_BASE "HKEY_CURRENT_USER${_stub_subkeys}")
  if("${STUB_PENDING_RESTART_KEY}" STREQUAL "")
    set(STUB_PENDING_RESTART_SUBKEY "SOFTWARE\\${STUB_PUBLISHER}\\${STUB_PRODUCT_NAME}\\${_stub_major_minor}\\Setup")
  else()
    set(STUB_PENDING_RESTART_SUBKEY "${STUB_PENDING_RESTART_KEY}")
  endif()
endmacro()
