# Gives the registry values of type "expandable" in a package built by wixl
# the type REG_EXPAND_SZ: wixl writes them as plain strings (and escapes a
# value that starts with "#"), so each gets the "#%" prefix by which the
# Registry table says REG_EXPAND_SZ. Run on the package wixl wrote from WXS,
# before it is signed:
#   cmake -DMSI=package.msi -DWXS=wendrel.wxs -DWORK=dir -P expandable-registry-values.cmake
# Each such value's name must be the Name of exactly one Registry row, whose
# value is not marked yet.
cmake_minimum_required(VERSION 3.21)
foreach(required IN ITEMS MSI WXS WORK)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "expandable-registry-values.cmake: ${required} is not set")
  endif()
endforeach()
file(READ ${WXS} wxs)
string(REGEX MATCHALL "<RegistryValue[^>]*>" values "${wxs}")
set(NAMES "")
foreach(value IN LISTS values)
  if(value MATCHES "Type=\"expandable\"" AND value MATCHES "Name=\"([^\"]+)\"")
    list(APPEND NAMES "${CMAKE_MATCH_1}")
  endif()
endforeach()
find_program(MSIINFO msiinfo REQUIRED)
find_program(MSIBUILD msibuild REQUIRED)

execute_process(COMMAND ${MSIINFO} export ${MSI} Registry
                OUTPUT_VARIABLE table RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "msiinfo export ${MSI} Registry failed (${status})")
endif()
foreach(name IN LISTS NAMES)
  # Columns: Registry Root Key Name Value Component_.
  set(row "(\n[^\t\n]*\t[0-9-]+\t[^\t\n]*\t${name}\t)([^\t\n]*)(\t)")
  string(REGEX MATCHALL "${row}" rows "${table}")
  list(LENGTH rows count)
  if(NOT count EQUAL 1 OR CMAKE_MATCH_2 MATCHES "^#")
    message(FATAL_ERROR "${MSI}: ${count} Registry rows named ${name}, or its value is marked")
  endif()
  string(REGEX REPLACE "${row}" "\\1#%\\2\\3" table "${table}")
endforeach()

file(MAKE_DIRECTORY ${WORK})
file(WRITE ${WORK}/Registry.idt "${table}")
execute_process(COMMAND ${MSIBUILD} ${MSI} -i ${WORK}/Registry.idt RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "msibuild ${MSI} -i Registry.idt failed (${status})")
endif()
