# The product's identity, the services it reports to and how it is signed:
# build settings, not code (README, "Product identity"). Each value is checked
# before it becomes text in the product, and all of them reach the code
# through one generated header, identity/product_identity.h.

set(STUB_PRODUCT_NAME "Tessary" CACHE STRING
    "Product id: the settings subkey, the log folder <name>_log, the executable <name>Setup.exe")
set(STUB_PRODUCT_VERSION "22.0.0.0" CACHE STRING
    "Product version, two to four numbers; its first number is the major version of the settings key")
set(STUB_PUBLISHER "Brelvo" CACHE STRING
    "Publisher folder: <common application data>\\<publisher>\\<product> and the pending-restart key")
set(STUB_SETTINGS_BASE_KEY "HKEY_CURRENT_USER\\SOFTWARE\\Brelvo\\stubframework" CACHE STRING
    "Registry key under which the settings key <product>\\<major version> lives (HKEY_CURRENT_USER only)")
set(STUB_PENDING_RESTART_KEY "" CACHE STRING
    "HKEY_CURRENT_USER subkey where the product's installer marks a pending restart (empty: SOFTWARE\\<publisher>\\<product>\\<major>.<minor>\\Setup)")

# How Explorer shows the executable: its file name, its version resource
# (product, company, version, description, copyright) and its icon.
set(STUB_EXE_NAME "" CACHE STRING
    "The product's executable name without .exe and without blanks (empty: <product without blanks>Setup)")
set(STUB_COMPANY "" CACHE STRING "Company in the version resource (empty: the publisher)")
set(STUB_DESCRIPTION "" CACHE STRING "File description in the version resource (empty: \"<product> Setup\")")
set(STUB_COPYRIGHT "" CACHE STRING "Copyright in the version resource (empty: \"Copyright (C) <publisher>\")")
set(STUB_ICON "" CACHE FILEPATH "The executable's icon, an .ico file (empty: the one rendered from res/icon.txt)")

# The services; an empty host means "not configured": nothing is sent.
set(STUB_TELEMETRY_HOST "" CACHE STRING "Host of the telemetry service (HTTPS; empty: reports are not sent)")
set(STUB_TELEMETRY_PORT "443" CACHE STRING "Port of the telemetry service")
set(STUB_PAGEVIEW_HOST "" CACHE STRING "Host of the pageview collector (plain HTTP; empty: pageviews are not sent)")
set(STUB_PAGEVIEW_PORT "80" CACHE STRING "Port of the pageview collector")
set(STUB_TOKEN_SERVICE_HOST "" CACHE STRING "Host of the URL-tokenizing service (empty: URLs are not tokenized)")
set(STUB_TOKEN_SERVICE_PORT "443" CACHE STRING "HTTPS port of the URL-tokenizing service")

# Signing: by default a self-made test certificate that the build generates
# into its own tree (never committed); a product team gives its own.
set(STUB_TEST_SIGNING_CERT "${CMAKE_BINARY_DIR}/signing/test_signing_cert.pem")
set(STUB_TEST_SIGNING_KEY "${CMAKE_BINARY_DIR}/signing/test_signing_key.pem")
option(STUB_SIGN "Sign the product and its development flavour (OFF: leave them for your own signing tool)" ON)
set(STUB_SIGNING_CERT "${STUB_TEST_SIGNING_CERT}" CACHE FILEPATH "Code-signing certificate (PEM or DER)")
set(STUB_SIGNING_KEY "${STUB_TEST_SIGNING_KEY}" CACHE FILEPATH "Private key of the code-signing certificate (PEM or DER, no passphrase)")
set(STUB_SIGNING_CA "" CACHE FILEPATH
    "The certificates the signing certificate chains to, PEM, for checking a signature (empty: it is self-signed)")

# The UI bundle the product carries: empty, the staged bundle/ of this tree.
set(STUB_BUNDLE_DIR "" CACHE PATH "UI bundle folder to pack as it is (empty: stage and pack bundle/)")

include("${CMAKE_CURRENT_LIST_DIR}/ReleaseKey.cmake")

include("${CMAKE_CURRENT_LIST_DIR}/IdentityRules.cmake")
stub_identity_problems(stub_identity_problem_list)
set(stub_uses_test_cert FALSE)
if(STUB_SIGNING_CERT STREQUAL STUB_TEST_SIGNING_CERT AND STUB_SIGNING_KEY STREQUAL STUB_TEST_SIGNING_KEY)
  set(stub_uses_test_cert TRUE)
elseif(STUB_SIGNING_CERT STREQUAL STUB_TEST_SIGNING_CERT OR STUB_SIGNING_KEY STREQUAL STUB_TEST_SIGNING_KEY)
  list(APPEND stub_identity_problem_list "STUB_SIGNING_CERT and STUB_SIGNING_KEY: give both, or neither for the test certificate")
else()
  foreach(file IN ITEMS "${STUB_SIGNING_CERT}" "${STUB_SIGNING_KEY}")
    if(NOT EXISTS "${file}")
      list(APPEND stub_identity_problem_list "signing file ${file} does not exist")
    endif()
  endforeach()
endif()
if(NOT "${STUB_SIGNING_CA}" STREQUAL "" AND NOT EXISTS "${STUB_SIGNING_CA}")
  list(APPEND stub_identity_problem_list "STUB_SIGNING_CA ${STUB_SIGNING_CA} does not exist")
endif()
if(NOT "${STUB_ICON}" STREQUAL "")
  set(stub_icon_head "")
  if(EXISTS "${STUB_ICON}")
    file(READ "${STUB_ICON}" stub_icon_head LIMIT 4 HEX)
  endif()
  if(NOT stub_icon_head STREQUAL "00000100")
    list(APPEND stub_identity_problem_list "STUB_ICON ${STUB_ICON}: not an .ico file")
  endif()
endif()
if(NOT "${STUB_BUNDLE_DIR}" STREQUAL "" AND NOT EXISTS "${STUB_BUNDLE_DIR}/Load.html")
  list(APPEND stub_identity_problem_list "STUB_BUNDLE_DIR \"${STUB_BUNDLE_DIR}\": no Load.html (the start page) in it")
endif()
if(stub_identity_problem_list)
  list(JOIN stub_identity_problem_list "\n  " stub_identity_message)
  message(FATAL_ERROR "Product identity settings:\n  ${stub_identity_message}")
endif()
set(STUB_SIGNING_USES_TEST_CERT ${stub_uses_test_cert})
# What a signature is checked against: the chain's certificates, or the
# self-signed certificate itself.
if("${STUB_SIGNING_CA}" STREQUAL "")
  set(STUB_SIGNING_TRUST "${STUB_SIGNING_CERT}")
else()
  set(STUB_SIGNING_TRUST "${STUB_SIGNING_CA}")
endif()

stub_identity_derive()
# As C wide-string and integer literals.
foreach(name STUB_PRODUCT_NAME STUB_PRODUCT_VERSION STUB_PUBLISHER STUB_SETTINGS_BASE STUB_PENDING_RESTART_SUBKEY
             STUB_TELEMETRY_HOST STUB_PAGEVIEW_HOST STUB_TOKEN_SERVICE_HOST)
  string(REPLACE "\\" "\\\\" ${name}_LITERAL "${${name}}")
endforeach()
foreach(service TELEMETRY PAGEVIEW TOKEN_SERVICE)
  # Decimal whatever was written ("080" is not an octal literal here).
  math(EXPR STUB_${service}_PORT_NUMBER "${STUB_${service}_PORT} + 0" OUTPUT_FORMAT DECIMAL)
endforeach()
configure_file("${CMAKE_SOURCE_DIR}/src/identity/product_identity.h.in"
               "${CMAKE_BINARY_DIR}/generated/identity/product_identity.h" @ONLY)
message(STATUS "Product: ${STUB_PRODUCT_NAME} ${STUB_PRODUCT_VERSION} (${STUB_EXE_OUTPUT_NAME}.exe), settings ${STUB_SETTINGS_BASE}\\${STUB_PRODUCT_NAME}\\${STUB_PRODUCT_MAJOR_VERSION}")
