# Authenticode signing of the Windows build: wendrel.dll and
# wendrel-doctor.exe before they are packaged, and the package once it is
# built, with osslsigncode and SHA-256. Without a certificate nothing is
# signed.
#
# The certificate and key, either as
#   WENDREL_SIGN_CERT           PEM certificate (followed by the intermediate CAs to embed)
#   WENDREL_SIGN_KEY            PEM private key
# or as
#   WENDREL_SIGN_PKCS12         PKCS#12 file holding both
# and for an encrypted key or PKCS#12 file
#   WENDREL_SIGN_PASSWORD_FILE  file whose first line is the password
# A timestamp, so that signatures stay valid after the certificate expires:
#   WENDREL_SIGN_TIMESTAMP_URL  RFC 3161 timestamp authority
# or, for tests only, timestamps made offline by osslsigncode itself:
#   WENDREL_SIGN_TSA_CERT       PEM timestamping certificate and its chain
#   WENDREL_SIGN_TSA_KEY        its PEM private key
# And the root a signed build's tests verify the signatures against:
#   WENDREL_SIGN_VERIFY_CA      PEM CA certificate(s)

set(WENDREL_SIGN_CERT "" CACHE FILEPATH "PEM code-signing certificate (and chain) for Authenticode")
set(WENDREL_SIGN_KEY "" CACHE FILEPATH "PEM private key of WENDREL_SIGN_CERT")
set(WENDREL_SIGN_PKCS12 "" CACHE FILEPATH "PKCS#12 code-signing certificate and key")
set(WENDREL_SIGN_PASSWORD_FILE "" CACHE FILEPATH
    "File holding the password of the signing key or PKCS#12 file")
set(WENDREL_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 timestamp authority for the signatures")
set(WENDREL_SIGN_TSA_CERT "" CACHE FILEPATH
    "PEM timestamping certificate (and chain) for offline timestamps (tests)")
set(WENDREL_SIGN_TSA_KEY "" CACHE FILEPATH "PEM private key of WENDREL_SIGN_TSA_CERT (tests)")
set(WENDREL_SIGN_VERIFY_CA "" CACHE FILEPATH
    "PEM root(s) the signature tests verify the signed files against")

set(WENDREL_SIGN_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/sign-file.cmake)

function(wendrel_require_files what)
  foreach(variable ${ARGN})
    if(${variable} AND NOT EXISTS "${${variable}}")
      message(FATAL_ERROR "${variable}: no file ${${variable}} (${what})")
    endif()
  endforeach()
endfunction()

set(WENDREL_SIGNING OFF)
set(WENDREL_SIGN_INPUTS "")
set(WENDREL_SIGN_ARGS "")
if(WENDREL_SIGN_CERT OR WENDREL_SIGN_KEY)
  if(NOT WENDREL_SIGN_CERT OR NOT WENDREL_SIGN_KEY)
    message(FATAL_ERROR "WENDREL_SIGN_CERT and WENDREL_SIGN_KEY go together")
  endif()
  if(WENDREL_SIGN_PKCS12)
    message(FATAL_ERROR "sign with WENDREL_SIGN_CERT and WENDREL_SIGN_KEY or with "
                        "WENDREL_SIGN_PKCS12, not both")
  endif()
  list(APPEND WENDREL_SIGN_ARGS -DCERT=${WENDREL_SIGN_CERT} -DKEY=${WENDREL_SIGN_KEY})
  list(APPEND WENDREL_SIGN_INPUTS ${WENDREL_SIGN_CERT} ${WENDREL_SIGN_KEY})
  set(WENDREL_SIGNING ON)
elseif(WENDREL_SIGN_PKCS12)
  list(APPEND WENDREL_SIGN_ARGS -DPKCS12=${WENDREL_SIGN_PKCS12})
  list(APPEND WENDREL_SIGN_INPUTS ${WENDREL_SIGN_PKCS12})
  set(WENDREL_SIGNING ON)
endif()

if(WENDREL_SIGNING)
  wendrel_require_files("signing" WENDREL_SIGN_CERT WENDREL_SIGN_KEY WENDREL_SIGN_PKCS12
                        WENDREL_SIGN_PASSWORD_FILE WENDREL_SIGN_TSA_CERT WENDREL_SIGN_TSA_KEY
                        WENDREL_SIGN_VERIFY_CA)
  find_program(WENDREL_OSSLSIGNCODE osslsigncode REQUIRED)
  if(WENDREL_SIGN_PASSWORD_FILE)
    list(APPEND WENDREL_SIGN_ARGS -DPASSWORD_FILE=${WENDREL_SIGN_PASSWORD_FILE})
    list(APPEND WENDREL_SIGN_INPUTS ${WENDREL_SIGN_PASSWORD_FILE})
  endif()
  if(WENDREL_SIGN_TIMESTAMP_URL)
    list(APPEND WENDREL_SIGN_ARGS -DTIMESTAMP_URL=${WENDREL_SIGN_TIMESTAMP_URL})
  endif()
  if(WENDREL_SIGN_TSA_CERT OR WENDREL_SIGN_TSA_KEY)
    if(NOT WENDREL_SIGN_TSA_CERT OR NOT WENDREL_SIGN_TSA_KEY)
      message(FATAL_ERROR "WENDREL_SIGN_TSA_CERT and WENDREL_SIGN_TSA_KEY go together")
    endif()
    list(APPEND WENDREL_SIGN_ARGS -DTSA_CERT=${WENDREL_SIGN_TSA_CERT}
                                  -DTSA_KEY=${WENDREL_SIGN_TSA_KEY})
    list(APPEND WENDREL_SIGN_INPUTS ${WENDREL_SIGN_TSA_CERT} ${WENDREL_SIGN_TSA_KEY})
  endif()
  list(APPEND WENDREL_SIGN_ARGS -DOSSLSIGNCODE=${WENDREL_OSSLSIGNCODE})
  string(CONCAT notice "Signing wendrel.dll, wendrel-doctor.exe and the package with "
                       "${WENDREL_SIGN_CERT}${WENDREL_SIGN_PKCS12}")
else()
  string(CONCAT notice "Not signing: no certificate given (WENDREL_SIGN_CERT and "
                       "WENDREL_SIGN_KEY, or WENDREL_SIGN_PKCS12); wendrel.dll, "
                       "wendrel-doctor.exe and the package are built unsigned")
endif()
# Said once, and again only when it changes.
if(NOT notice STREQUAL "${WENDREL_SIGN_NOTICE_SHOWN}")
  message(STATUS "${notice}")
  set(WENDREL_SIGN_NOTICE_SHOWN "${notice}" CACHE INTERNAL "")
endif()

# The COMMAND arguments of add_custom_command that sign `in` into `out`;
# without a certificate, that copy `in` to `out`.
function(wendrel_sign_command out_var in out)
  if(WENDREL_SIGNING)
    set(${out_var} COMMAND ${CMAKE_COMMAND} ${WENDREL_SIGN_ARGS} -DIN=${in} -DOUT=${out}
                           -P ${WENDREL_SIGN_SCRIPT} PARENT_SCOPE)
  else()
    set(${out_var} COMMAND ${CMAKE_COMMAND} -E copy ${in} ${out} PARENT_SCOPE)
  endif()
endfunction()
