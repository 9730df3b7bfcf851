# regsvr registers and unregisters a module's registration as regsvr32 does,
# with its messages and exit statuses; wendrel-reg shows what the store holds.
# Run as: cmake -DREGSVR=... -DREG=... -DMODULE=... -DNO_ENTRY=... -DWORK_DIR=... -P <this file>

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(store ${WORK_DIR}/registry.db)
set(ENV{WENDREL_REGISTRY} ${store})

# run(<expected status> <expected stdout+stderr, a regex anchored at both ends> <args>...)
function(run expected_status expected_output)
  execute_process(COMMAND ${REGSVR} ${ARGN}
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL expected_status OR NOT "${out}${err}" MATCHES "^${expected_output}$")
    message(FATAL_ERROR "regsvr ${ARGN}: status ${status}, expected ${expected_status}\n"
                        "expected: [${expected_output}]\ngot:      [${out}${err}]")
  endif()
endfunction()

# A module path as a regex.
string(REGEX REPLACE "([][+.*()^$?|\\\\])" "\\\\\\1" module "${MODULE}")
run(0 "DllRegisterServer in ${module} succeeded.\n" ${MODULE})
set(key "HKLM\\Software\\Tarvos\\Graphical Login\\QZLGE\\LDAP Contextless")
execute_process(COMMAND ${REG} query ${key} OUTPUT_VARIABLE query)
# reg.exe's layout, as Wine's reg.exe shows it too.
file(READ ${CMAKE_CURRENT_LIST_DIR}/registered_key.txt expected_query)
if(NOT query STREQUAL expected_query)
  message(FATAL_ERROR "registered values:\nexpected: [${expected_query}]\ngot:      [${query}]")
endif()

# Switches in any order and case; /s says nothing.
run(0 "" ${MODULE} -U /S)
execute_process(COMMAND ${REG} query "HKLM\\Software\\Tarvos" RESULT_VARIABLE status
                OUTPUT_QUIET ERROR_QUIET)
if(status EQUAL 0)
  message(FATAL_ERROR "HKLM\\Software\\Tarvos is still there after /u")
endif()
run(0 "DllUnregisterServer in ${module} succeeded.\n" /u ${MODULE})

# A store that cannot be written: access denied in the Win32 facility.
execute_process(COMMAND ${REG} add "HKLM\\Software\\Other" /v Kept /t REG_DWORD /d 1 /f
                OUTPUT_QUIET)
file(CHMOD ${store} PERMISSIONS OWNER_READ GROUP_READ)
run(5 "DllRegisterServer in ${module} failed. Return code was: 0x80070005\n" ${MODULE})
run(5 "" /s ${MODULE})
file(CHMOD ${store} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ)

# What cannot be loaded or called, and bad arguments.
run(3 ".*failed to load.*" ${WORK_DIR}/missing.so)
run(4 ".*entry-point DllRegisterServer was not found.*" ${NO_ENTRY})
foreach(args "" "/x;${MODULE}" "${MODULE};${MODULE}")
  run(1 ".*usage: regsvr.*" ${args})
endforeach()
file(REMOVE_RECURSE ${WORK_DIR})
