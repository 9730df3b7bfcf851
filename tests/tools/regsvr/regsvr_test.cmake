# regsvr registers and unregisters a module's registration as regsvr32 does,
# with its messages and exit statuses; wendrel-reg shows what the store holds.
# Run as: cmake -DREGSVR=... -DREG=... -DMODULE=... -DNO_ENTRY=... -DWORK_DIR=... -P <this file>

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(store ${WORK_DIR}/registry.db)
set(ENV{WENDREL_REGISTRY} ${store})
set(key "HKLM\\Software\\Tarvos\\Graphical Login\\QZLGE\\LDAP Contextless")

# run(<expected status> <args>...): sets out and err in the caller.
function(run expected)
  execute_process(COMMAND ${REGSVR} ${ARGN}
                  RESULT_VARIABLE status OUTPUT_VARIABLE stdout ERROR_VARIABLE stderr)
  if(NOT status EQUAL expected)
    message(FATAL_ERROR "regsvr ${ARGN}: status ${status}, expected ${expected}\n"
                        "stdout: ${stdout}\nstderr: ${stderr}")
  endif()
  set(out "${stdout}" PARENT_SCOPE)
  set(err "${stderr}" PARENT_SCOPE)
endfunction()

function(expect_equal actual expected what)
  if(NOT actual STREQUAL expected)
    message(FATAL_ERROR "${what}:\nexpected: [${expected}]\ngot:      [${actual}]")
  endif()
endfunction()

run(0 ${MODULE})
expect_equal("${out}" "DllRegisterServer in ${MODULE} succeeded.\n" "register message")
execute_process(COMMAND ${REG} query ${key} RESULT_VARIABLE status OUTPUT_VARIABLE query)
# reg.exe's layout, as Wine's reg.exe shows it too.
file(READ ${CMAKE_CURRENT_LIST_DIR}/registered_key.txt expected_query)
expect_equal("${query}" "${expected_query}" "registered values")

# Switches in any order and case; /s says nothing.
run(0 ${MODULE} -U /S)
expect_equal("${out}${err}" "" "silent unregister output")
execute_process(COMMAND ${REG} query "HKLM\\Software\\Tarvos" RESULT_VARIABLE status
                OUTPUT_QUIET ERROR_QUIET)
if(status EQUAL 0)
  message(FATAL_ERROR "HKLM\\Software\\Tarvos is still there after /u")
endif()

run(0 /u ${MODULE})
expect_equal("${out}" "DllUnregisterServer in ${MODULE} succeeded.\n" "unregister message")

# A store that cannot be written: access denied in the Win32 facility.
execute_process(COMMAND ${REG} add "HKLM\\Software\\Other" /v Kept /t REG_DWORD /d 1 /f
                RESULT_VARIABLE status OUTPUT_QUIET)
file(CHMOD ${store} PERMISSIONS OWNER_READ GROUP_READ)
run(5 ${MODULE})
expect_equal("${err}" "DllRegisterServer in ${MODULE} failed. Return code was: 0x80070005\n"
             "read-only store message")
run(5 /s ${MODULE})
expect_equal("${out}${err}" "" "silent failure output")
file(CHMOD ${store} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ)

# What cannot be loaded or called, and bad arguments.
run(3 ${WORK_DIR}/missing.so)
if(NOT err MATCHES "failed to load")
  message(FATAL_ERROR "missing library: ${err}")
endif()
run(4 ${NO_ENTRY})
if(NOT err MATCHES "entry-point DllRegisterServer was not found")
  message(FATAL_ERROR "library without the entry: ${err}")
endif()
foreach(args "" "/x;${MODULE}" "${MODULE};${MODULE}")
  run(1 ${args})
  if(NOT err MATCHES "usage: regsvr")
    message(FATAL_ERROR "regsvr ${args}: ${err}")
  endif()
endforeach()

file(REMOVE_RECURSE ${WORK_DIR})
