# wendrel-doctor version --json natively: the libwendrel.so beside the
# doctor, the version they share, and no Authenticode; a doctor with no
# extension beside it says so and exits 1.
# Run as: cmake -DDOCTOR=... -DEXTENSION=... -DVERSION=... -DWORK_DIR=... -P <this file>

execute_process(COMMAND ${DOCTOR} version --json
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(CONCAT expected "{\"version\": \"${VERSION}\", \"path\": \"${EXTENSION}\", "
                       "\"signer\": \"not applicable\"}\n")
if(NOT status EQUAL 0 OR NOT out STREQUAL expected)
  message(FATAL_ERROR "wendrel-doctor version --json (status ${status}, ${err})\n"
                      "expected:\n${expected}got:\n${out}")
endif()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
file(COPY ${DOCTOR} DESTINATION ${WORK_DIR})
get_filename_component(name ${DOCTOR} NAME)
execute_process(COMMAND ${WORK_DIR}/${name} version
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 1 OR NOT out STREQUAL "" OR
   NOT err STREQUAL "wendrel-doctor version: no extension at ${WORK_DIR}/libwendrel.so\n")
  message(FATAL_ERROR "a doctor without an extension beside it: status ${status}\n${out}${err}")
endif()
