# Wine's own regsvr32.exe registers and unregisters wendrel.dll, whose
# exports run the extension's self-registration against Wine's registry; the
# script comes from the DLL's resources. Wine's reg.exe shows what the
# registry holds, in its own layout.
# Run as: cmake -DWINE_RUN=... -DMODULE=... -P <this file>

set(tarvos "HKLM\\Software\\Tarvos")
set(qzlge "${tarvos}\\Graphical Login\\QZLGE")
set(key "${qzlge}\\LDAP Contextless")
string(REPLACE "/" "\\" dll "Z:${MODULE}")  # on Wine's Z: drive, the Unix root

# wine(<expected status> <command>...): leaves standard output in `out`,
# carriage returns dropped; expected status "absent": reg query of a key
# that must not be there.
function(wine expected)
  execute_process(COMMAND ${WINE_RUN} ${ARGN}
                  RESULT_VARIABLE status OUTPUT_VARIABLE stdout ERROR_VARIABLE stderr)
  if((expected STREQUAL "absent" AND status EQUAL 0) OR
     (NOT expected STREQUAL "absent" AND NOT status EQUAL expected))
    message(FATAL_ERROR "${ARGN}: status ${status}, expected ${expected}\n${stdout}${stderr}")
  endif()
  string(REPLACE "\r" "" stdout "${stdout}")
  set(out "${stdout}" PARENT_SCOPE)
endfunction()

# Left over from an earlier run, or absent.
execute_process(COMMAND ${WINE_RUN} reg delete ${tarvos} /f OUTPUT_QUIET ERROR_QUIET)

# Registering creates the whole path; registering again rewrites the values:
# the registered key exactly, its three values each once and nothing else.
file(READ ${CMAKE_CURRENT_LIST_DIR}/registered_key.txt expected)
foreach(pass 1 2)
  wine(0 regsvr32 /s ${dll})
  wine(0 reg query ${key})
  if(NOT out STREQUAL expected)
    message(FATAL_ERROR "reg query after regsvr32 ${pass}:\nexpected: [${expected}]\ngot: [${out}]")
  endif()
endforeach()

# Removal takes the option values with the key (it has no subkeys), and
# every key above that is left without subkeys, up to Software\Tarvos;
# unregistering what is not registered still succeeds.
wine(0 reg add ${key} /v "Contextless Login Enabled" /t REG_DWORD /d 1 /f)
wine(0 reg add "${tarvos}\\Graphical Login" /v Kept /t REG_SZ /d here /f)
foreach(pass 1 2)
  wine(0 regsvr32 /u /s ${dll})
  wine(absent reg query ${tarvos})
endforeach()

# Another extension's key under QZLGE keeps QZLGE and everything above it,
# with their values; only the extension's own key goes.
wine(0 regsvr32 /s ${dll})
wine(0 reg add "${qzlge}\\Other Extension" /v LoginExtType /t REG_DWORD /d 7 /f)
wine(0 reg add ${qzlge} /v Kept /t REG_SZ /d here /f)
wine(0 regsvr32 /u /s ${dll})
wine(absent reg query ${key})
wine(0 reg query ${qzlge} /v Kept)
wine(0 reg query "${qzlge}\\Other Extension" /v LoginExtType)
if(NOT out MATCHES "LoginExtType    REG_DWORD    0x7")
  message(FATAL_ERROR "the other extension's value changed:\n${out}")
endif()
wine(0 reg delete ${tarvos} /f)
