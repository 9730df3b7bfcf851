# wendrel-doctor audit --json against a store filled by wendrel-reg import:
# the fixed JSON contract, and exit status 0 without findings, 1 with.
# Run as: cmake -DDOCTOR=... -DREG=... -DDATA_DIR=... -DWORK_DIR=... -P <this file>

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(ENV{WENDREL_REGISTRY} ${WORK_DIR}/registry.db)
set(ENV{WENDREL_ACP} WINDOWS-1252)

function(expect_audit expected_status expected_file)
  execute_process(COMMAND ${DOCTOR} audit --json
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL expected_status)
    message(FATAL_ERROR "audit --json exited with ${status}, expected ${expected_status}: ${err}")
  endif()
  file(READ ${expected_file} expected)
  if(NOT out STREQUAL expected)
    message(FATAL_ERROR "report differs from ${expected_file}\nexpected:\n${expected}got:\n${out}")
  endif()
endfunction()

# Nothing configured: nothing to look at.
expect_audit(0 ${DATA_DIR}/doctor_audit_empty.json)

execute_process(COMMAND ${REG} import ${DATA_DIR}/doctor_audit.reg
                RESULT_VARIABLE status ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "import failed: ${err}")
endif()
expect_audit(1 ${DATA_DIR}/doctor_audit.json)

execute_process(COMMAND ${DOCTOR} audit --bogus RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
if(NOT status EQUAL 2)
  message(FATAL_ERROR "audit --bogus exited with ${status}, expected 2")
endif()
