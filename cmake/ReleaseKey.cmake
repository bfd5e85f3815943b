# The publisher's release key: the public half of the key that signs every
# .meta, the component list and nothing else. The stub carries it and trusts
# only what it signed (README, "Release key"; docs/publishing.md).
#
# STUB_RELEASE_PUBLIC_KEY names a PEM public key (RSA, 3072 bits or more).
# By default the build makes a test key pair in its own tree (never
# committed), as it makes the test signing certificate; an empty value builds
# a stub without a key, which checks downloads against their .meta only.
set(STUB_TEST_RELEASE_KEY "${CMAKE_BINARY_DIR}/signing/test_release_key.pem")
set(STUB_TEST_RELEASE_PUBLIC_KEY "${CMAKE_BINARY_DIR}/signing/test_release_public.pem")
set(STUB_RELEASE_PUBLIC_KEY "${STUB_TEST_RELEASE_PUBLIC_KEY}" CACHE STRING
    "PEM public key of the publisher's release key (empty: no key; downloads are checked against their .meta only)")

find_program(STUB_OPENSSL openssl REQUIRED)
set(STUB_RELEASE_KEY_MIN_BITS 3072)

if(STUB_RELEASE_PUBLIC_KEY STREQUAL STUB_TEST_RELEASE_PUBLIC_KEY AND NOT EXISTS "${STUB_TEST_RELEASE_PUBLIC_KEY}")
  file(MAKE_DIRECTORY "${CMAKE_BINARY_DIR}/signing")
  execute_process(COMMAND "${STUB_OPENSSL}" genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:3072
                          -out "${STUB_TEST_RELEASE_KEY}" RESULT_VARIABLE made OUTPUT_QUIET ERROR_QUIET)
  if(made EQUAL 0)
    execute_process(COMMAND "${STUB_OPENSSL}" pkey -in "${STUB_TEST_RELEASE_KEY}" -pubout
                            -out "${STUB_TEST_RELEASE_PUBLIC_KEY}" RESULT_VARIABLE made OUTPUT_QUIET ERROR_QUIET)
  endif()
  if(NOT made EQUAL 0)
    message(FATAL_ERROR "could not make the test release key with ${STUB_OPENSSL}")
  endif()
  message(STATUS "Made the test release key pair in ${CMAKE_BINARY_DIR}/signing")
endif()
set(STUB_RELEASE_KEY_USES_TEST_KEY FALSE)
if(STUB_RELEASE_PUBLIC_KEY STREQUAL STUB_TEST_RELEASE_PUBLIC_KEY)
  set(STUB_RELEASE_KEY_USES_TEST_KEY TRUE)
endif()

# The key as the DER SubjectPublicKeyInfo the stub imports, written as a C
# byte list: STUB_RELEASE_PUBLIC_KEY_BYTES (empty without a key).
set(STUB_RELEASE_PUBLIC_KEY_BYTES "")
set(STUB_RELEASE_PUBLIC_KEY_SIZE 0)
if(STUB_RELEASE_PUBLIC_KEY STREQUAL "")
  message(WARNING "STUB_RELEASE_PUBLIC_KEY is empty: the stub has no release key and checks downloads "
                  "against their .meta only; anyone who can answer its requests can make it run a program.")
else()
  set(stub_key_der "${CMAKE_BINARY_DIR}/generated/identity/release_public_key.der")
  file(MAKE_DIRECTORY "${CMAKE_BINARY_DIR}/generated/identity")
  execute_process(COMMAND "${STUB_OPENSSL}" pkey -pubin -in "${STUB_RELEASE_PUBLIC_KEY}" -outform DER -out "${stub_key_der}"
                  RESULT_VARIABLE converted OUTPUT_QUIET ERROR_VARIABLE convert_error)
  execute_process(COMMAND "${STUB_OPENSSL}" pkey -pubin -in "${STUB_RELEASE_PUBLIC_KEY}" -noout -text
                  RESULT_VARIABLE described OUTPUT_VARIABLE key_text ERROR_QUIET)
  if(NOT converted EQUAL 0 OR NOT described EQUAL 0)
    message(FATAL_ERROR "STUB_RELEASE_PUBLIC_KEY \"${STUB_RELEASE_PUBLIC_KEY}\": not a PEM public key (${convert_error})")
  endif()
  if(NOT key_text MATCHES "Public-Key: \\(([0-9]+) bit\\)" OR NOT key_text MATCHES "Exponent:")
    message(FATAL_ERROR "STUB_RELEASE_PUBLIC_KEY \"${STUB_RELEASE_PUBLIC_KEY}\": not an RSA public key")
  endif()
  string(REGEX MATCH "Public-Key: \\(([0-9]+) bit\\)" _ "${key_text}")
  set(stub_key_bits "${CMAKE_MATCH_1}")
  if(stub_key_bits LESS STUB_RELEASE_KEY_MIN_BITS)
    message(FATAL_ERROR "STUB_RELEASE_PUBLIC_KEY: an RSA key of ${stub_key_bits} bits; ${STUB_RELEASE_KEY_MIN_BITS} or more, please")
  endif()
  file(READ "${stub_key_der}" stub_key_hex HEX)
  string(LENGTH "${stub_key_hex}" stub_key_hex_length)
  math(EXPR STUB_RELEASE_PUBLIC_KEY_SIZE "${stub_key_hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," STUB_RELEASE_PUBLIC_KEY_BYTES "${stub_key_hex}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${STUB_RELEASE_PUBLIC_KEY}")
  message(STATUS "Release key: ${STUB_RELEASE_PUBLIC_KEY} (RSA ${stub_key_bits} bits)")
endif()
