# Signs one PE file or Windows Installer package with osslsigncode
# (Authenticode, SHA-256), run as a script:
#   cmake -DIN=file -DOUT=signed -DOSSLSIGNCODE=path
#         (-DCERT=pem -DKEY=pem | -DPKCS12=file) [-DPASSWORD_FILE=file]
#         [-DTIMESTAMP_URL=url | -DTSA_CERT=pem -DTSA_KEY=pem] -P sign-file.cmake
# The signature is verified against nothing here: the build trusts its own
# certificate, and the tests verify against the root.

foreach(required IN ITEMS IN OUT OSSLSIGNCODE)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "sign-file.cmake: ${required} is not set")
  endif()
endforeach()

if(DEFINED PKCS12)
  set(credentials -pkcs12 ${PKCS12})
elseif(DEFINED CERT AND DEFINED KEY)
  set(credentials -certs ${CERT} -key ${KEY})
else()
  message(FATAL_ERROR "sign-file.cmake: give CERT and KEY, or PKCS12")
endif()
if(DEFINED PASSWORD_FILE)
  list(APPEND credentials -readpass ${PASSWORD_FILE})
endif()

set(timestamp "")
if(DEFINED TIMESTAMP_URL)
  set(timestamp -ts ${TIMESTAMP_URL})
elseif(DEFINED TSA_CERT)
  set(timestamp -TSA-certs ${TSA_CERT} -TSA-key ${TSA_KEY})
endif()

# osslsigncode does not overwrite, and a failed run must leave no output
# that a later build would take for signed.
file(REMOVE ${OUT})
execute_process(
  COMMAND ${OSSLSIGNCODE} sign ${credentials} -h sha256 ${timestamp} -in ${IN} -out ${OUT}
  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
  file(REMOVE ${OUT})
  message(FATAL_ERROR "osslsigncode could not sign ${IN}:\n${output}")
endif()
