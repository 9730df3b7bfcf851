# wendrel-doctor natively. config and audit --json (the fixed contract)
# against a store wendrel-reg import fills: exactly the report data/ holds,
# empty and configured, with the exit status (audit: 1 when it found
# something). version --json: the libwendrel.so beside the doctor, the version
# they share, no Authenticode; without an extension beside it, it says so and
# exits 1. Bad arguments give status 2 and the usage.
# Run as: cmake -DDOCTOR=... -DREG=... -DEXTENSION=... -DVERSION=... -DDATA_DIR=...
#               -DWORK_DIR=... -P <this file>

set(ENV{WENDREL_ACP} WINDOWS-1252)

# expect(<status> <standard output> <doctor arguments>...)
function(expect expected_status expected)
  execute_process(COMMAND ${DOCTOR} ${ARGN}
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL expected_status OR NOT out STREQUAL expected)
    message(FATAL_ERROR "wendrel-doctor ${ARGN}: status ${status}, expected ${expected_status} "
                        "(${err})\nexpected:\n${expected}got:\n${out}")
  endif()
endfunction()

set(found_status_config 0)
set(found_status_audit 1)
foreach(command config audit)
  file(REMOVE_RECURSE ${WORK_DIR})
  file(MAKE_DIRECTORY ${WORK_DIR})
  set(ENV{WENDREL_REGISTRY} ${WORK_DIR}/registry.db)
  file(READ ${DATA_DIR}/doctor_${command}_empty.json empty)
  file(READ ${DATA_DIR}/doctor_${command}.json configured)
  expect(0 "${empty}" ${command} --json)
  execute_process(COMMAND ${REG} import ${DATA_DIR}/doctor_${command}.reg
                  RESULT_VARIABLE status ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "wendrel-reg import failed (${status}): ${err}")
  endif()
  expect(${found_status_${command}} "${configured}" ${command} --json)
endforeach()

foreach(args "config;--bogus" "audit;--bogus" "resolve;--bogus" "resolve" "bogus" "")
  execute_process(COMMAND ${DOCTOR} ${args} RESULT_VARIABLE status ERROR_VARIABLE err
                  OUTPUT_QUIET)
  if(NOT status EQUAL 2 OR NOT err MATCHES "usage")
    message(FATAL_ERROR "wendrel-doctor ${args}: status ${status}, stderr: ${err}")
  endif()
endforeach()

string(CONCAT version "{\"version\": \"${VERSION}\", \"path\": \"${EXTENSION}\", "
                      "\"signer\": \"not applicable\"}\n")
expect(0 "${version}" version --json)
file(COPY ${DOCTOR} DESTINATION ${WORK_DIR})
get_filename_component(name ${DOCTOR} NAME)
execute_process(COMMAND ${WORK_DIR}/${name} version
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 1 OR NOT out STREQUAL "" OR
   NOT err STREQUAL "wendrel-doctor version: no extension at ${WORK_DIR}/libwendrel.so\n")
  message(FATAL_ERROR "a doctor without an extension beside it: status ${status}\n${out}${err}")
endif()
file(REMOVE_RECURSE ${WORK_DIR})
