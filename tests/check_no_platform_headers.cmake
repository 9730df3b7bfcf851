# Fails when a source file of the extension's folders includes a header of
# Windows or of POSIX. Run as: cmake -DSOURCE_DIR=<repo> -P <this file>
set(folders core config directory search results resources)
set(forbidden
  "windows\\.h" "winreg\\.h" "winbase\\.h" "winsock2?\\.h" "ws2tcpip\\.h" "wincrypt\\.h"
  "winldap\\.h" "winber\\.h" "aclapi\\.h" "sddl\\.h" "commctrl\\.h" "windef\\.h" "winuser\\.h"
  "wtypes\\.h" "objbase\\.h" "tchar\\.h" "mbstring\\.h" "process\\.h" "io\\.h"
  "unistd\\.h" "pthread\\.h" "dlfcn\\.h" "iconv\\.h" "fcntl\\.h" "poll\\.h" "signal\\.h"
  "netdb\\.h" "termios\\.h" "sys/[a-z_]+\\.h" "arpa/[a-z_]+\\.h" "netinet/[a-z_]+\\.h"
  "ldap\\.h" "lber\\.h" "sqlite3\\.h")
set(bad "")
foreach(folder ${folders})
  file(GLOB_RECURSE files ${SOURCE_DIR}/${folder}/*.h ${SOURCE_DIR}/${folder}/*.cc
                          ${SOURCE_DIR}/${folder}/*.cpp ${SOURCE_DIR}/${folder}/*.def)
  foreach(f ${files})
    file(STRINGS ${f} lines REGEX "^[ \t]*#[ \t]*include")
    foreach(line ${lines})
      # The project's own headers (the ports among them) are what these
      # folders are meant to include.
      if(line MATCHES "#[ \t]*include[ \t]*\"(platform|standins|core|config|directory|search|results|resources)/")
        continue()
      endif()
      foreach(h ${forbidden})
        if(line MATCHES "[<\"/]${h}[>\"]")
          string(APPEND bad "${f}: ${line}\n")
        endif()
      endforeach()
    endforeach()
  endforeach()
endforeach()
if(bad)
  message(FATAL_ERROR "Platform headers outside the ports:\n${bad}")
endif()
message(STATUS "extension folders include only ports and the standard library")
