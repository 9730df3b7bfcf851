# wendrel-doctor config --json against a store filled by wendrel-reg import:
# the report holds exactly what the readers return, defaults included.
# Run as: cmake -DDOCTOR=... -DREG=... -DDATA_DIR=... -DWORK_DIR=... -P <this file>

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(ENV{WENDREL_REGISTRY} ${WORK_DIR}/registry.db)
set(ENV{WENDREL_ACP} WINDOWS-1252)

function(expect_report expected_file)
  execute_process(COMMAND ${DOCTOR} config --json
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "wendrel-doctor config --json exited with ${status}: ${err}")
  endif()
  string(JSON ignored ERROR_VARIABLE json_error TYPE "${out}")
  if(json_error)
    message(FATAL_ERROR "not valid JSON (${json_error}):\n${out}")
  endif()
  file(READ ${expected_file} expected)
  if(NOT out STREQUAL expected)
    message(FATAL_ERROR "report differs from ${expected_file}\nexpected:\n${expected}got:\n${out}")
  endif()
endfunction()

# An empty store: every key missing.
expect_report(${DATA_DIR}/doctor_config_empty.json)

execute_process(COMMAND ${REG} import ${DATA_DIR}/doctor_config.reg
                RESULT_VARIABLE status ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "wendrel-reg import failed (${status}): ${err}")
endif()
expect_report(${DATA_DIR}/doctor_config.json)

# Bad arguments: status 2 and the usage.
foreach(args "config;--bogus" "bogus" "")
  execute_process(COMMAND ${DOCTOR} ${args} RESULT_VARIABLE status ERROR_VARIABLE err
                  OUTPUT_QUIET)
  if(NOT status EQUAL 2 OR NOT err MATCHES "usage")
    message(FATAL_ERROR "wendrel-doctor ${args}: status ${status}, stderr: ${err}")
  endif()
endforeach()

file(REMOVE_RECURSE ${WORK_DIR})
