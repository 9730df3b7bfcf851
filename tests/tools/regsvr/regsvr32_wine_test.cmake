# Wine's own regsvr32.exe registers and unregisters the test DLL, whose
# exports run the extension's self-registration against Wine's registry; the
# script comes from the DLL's resources. reg.exe shows what the registry holds.
# Run as: cmake -DWINE_RUN=... -DMODULE=... -P <this file>

set(key "HKLM\\Software\\Tarvos\\Graphical Login\\QZLGE\\LDAP Contextless")
# The DLL by its Windows path on Wine's Z: drive (the Unix root).
string(REPLACE "/" "\\" dll "Z:${MODULE}")

function(wine expected)
  execute_process(COMMAND ${WINE_RUN} ${ARGN}
                  RESULT_VARIABLE status OUTPUT_VARIABLE stdout ERROR_VARIABLE stderr)
  if(NOT status EQUAL expected)
    message(FATAL_ERROR "${ARGN}: status ${status}, expected ${expected}\n${stdout}${stderr}")
  endif()
  set(out "${stdout}" PARENT_SCOPE)
endfunction()

# Left over from an earlier run, or absent.
execute_process(COMMAND ${WINE_RUN} reg delete "HKLM\\Software\\Tarvos" /f
                OUTPUT_QUIET ERROR_QUIET)
wine(0 regsvr32 /s ${dll})
wine(0 reg query ${key})
string(REPLACE "\r" "" out "${out}")
foreach(line
    "    LoginExtDesc    REG_SZ    Tarvos LDAP Contextless Login\n"
    "    LoginExtName    REG_SZ    %ProgramFiles%\\Tarvos\\Client\\wendrel.dll\n"
    "    LoginExtType    REG_DWORD    0x8001\n")
  string(FIND "${out}" "${line}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "missing from reg query: [${line}]\n${out}")
  endif()
endforeach()

wine(0 regsvr32 /u /s ${dll})
execute_process(COMMAND ${WINE_RUN} reg query "HKLM\\Software\\Tarvos"
                RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
if(status EQUAL 0)
  message(FATAL_ERROR "HKLM\\Software\\Tarvos is still there after regsvr32 /u")
endif()
