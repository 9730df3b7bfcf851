# wendrel-doctor COMMAND --json (config or audit) against a store filled by
# wendrel-reg import: the fixed JSON report exactly as data/ holds it, for an
# empty store and a configured one, with the exit status (audit: 1 when it
# found something); bad arguments give status 2 and the usage.
# Run as: cmake -DDOCTOR=... -DREG=... -DCOMMAND=... -DFOUND_STATUS=... -DDATA_DIR=...
#               -DWORK_DIR=... -P <this file>

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(ENV{WENDREL_REGISTRY} ${WORK_DIR}/registry.db)
set(ENV{WENDREL_ACP} WINDOWS-1252)

function(expect_report expected_status expected_file)
  execute_process(COMMAND ${DOCTOR} ${COMMAND} --json
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  file(READ ${expected_file} expected)
  if(NOT status EQUAL expected_status OR NOT out STREQUAL expected)
    message(FATAL_ERROR "${COMMAND} --json: status ${status}, expected ${expected_status} "
                        "(${err}); expected ${expected_file}:\n${expected}got:\n${out}")
  endif()
endfunction()

expect_report(0 ${DATA_DIR}/doctor_${COMMAND}_empty.json)
execute_process(COMMAND ${REG} import ${DATA_DIR}/doctor_${COMMAND}.reg
                RESULT_VARIABLE status ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "wendrel-reg import failed (${status}): ${err}")
endif()
expect_report(${FOUND_STATUS} ${DATA_DIR}/doctor_${COMMAND}.json)

foreach(args "${COMMAND};--bogus" "resolve;--bogus" "resolve" "bogus" "")
  execute_process(COMMAND ${DOCTOR} ${args} RESULT_VARIABLE status ERROR_VARIABLE err
                  OUTPUT_QUIET)
  if(NOT status EQUAL 2 OR NOT err MATCHES "usage")
    message(FATAL_ERROR "wendrel-doctor ${args}: status ${status}, stderr: ${err}")
  endif()
endforeach()
file(REMOVE_RECURSE ${WORK_DIR})
