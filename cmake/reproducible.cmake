# Two builds of one commit, in any two folders, give the same bytes: an
# administrator can then rebuild the published source and check that a
# binary came from it (docs/administration.md).
#
# What would differ otherwise:
# - the folders: the debug information names the source and build folders,
#   and __FILE__ the source folder. Sources are recorded as "./core/x.cc",
#   the build folder as "." (its maps come last: GCC applies the last matching
#   one, and the presets build inside the source folder). The coverage data
#   keeps its real paths: gcovr finds the sources through them.
# - the time: Debian's mingw linker (and strip, which rewrites the header)
#   writes the current time into the PE header unless SOURCE_DATE_EPOCH is
#   set. It is set, for the links of the shipped binaries and the package's
#   strip, to the commit's date (or to SOURCE_DATE_EPOCH of the configure
#   step's environment, or, outside a git checkout, to a fixed date). It is
#   read when the build is configured: a commit made since then takes effect
#   at the next configure step.

if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(WENDREL_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  # 2026-01-01 00:00:00 UTC, for a source tree that is not a git checkout.
  set(WENDREL_SOURCE_DATE_EPOCH 1767225600)
  find_program(WENDREL_GIT git)
  if(WENDREL_GIT)
    execute_process(COMMAND ${WENDREL_GIT} -C ${CMAKE_SOURCE_DIR} log -1 --format=%ct
                    OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE git_status ERROR_QUIET)
    if(git_status EQUAL 0 AND commit_time MATCHES "^[0-9]+$")
      set(WENDREL_SOURCE_DATE_EPOCH ${commit_time})
    endif()
  endif()
endif()
if(NOT WENDREL_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH must be seconds since 1970, not "
                      "\"${WENDREL_SOURCE_DATE_EPOCH}\"")
endif()
# For scripts/reproduce, which strips the rebuilt files as the package does.
set(WENDREL_SOURCE_DATE_EPOCH_USED ${WENDREL_SOURCE_DATE_EPOCH} CACHE INTERNAL
    "SOURCE_DATE_EPOCH of the shipped binaries")

# ccache (with a base directory) hands the compiler paths relative to the
# build folder ("../../core/x.cc", "-Igenerated/..."): those are mapped to the
# same names as the absolute paths CMake passes, so a build through ccache and
# one without give the same bytes.
file(RELATIVE_PATH source_from_build ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
string(REGEX REPLACE "/$" "" source_from_build "${source_from_build}")  # "../../" at times
set(prefix_maps ${CMAKE_SOURCE_DIR}=.)
if(source_from_build)
  list(APPEND prefix_maps ${source_from_build}=.)
endif()
# The build folder itself (the compiler's working directory) is ".", what
# lies below it is named relative to it.
list(APPEND prefix_maps ${CMAKE_BINARY_DIR}=. ${CMAKE_BINARY_DIR}/=)
foreach(map ${prefix_maps})
  add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-fdebug-prefix-map=${map}>"
                      "$<$<COMPILE_LANGUAGE:C,CXX>:-fmacro-prefix-map=${map}>")
endforeach()

# Links `target` with SOURCE_DATE_EPOCH set. Only the shipped binaries: a
# new commit then relinks these and not every test program.
function(wendrel_reproducible_link target)
  set_target_properties(${target} PROPERTIES
    C_LINKER_LAUNCHER "${CMAKE_COMMAND};-E;env;SOURCE_DATE_EPOCH=${WENDREL_SOURCE_DATE_EPOCH}"
    CXX_LINKER_LAUNCHER "${CMAKE_COMMAND};-E;env;SOURCE_DATE_EPOCH=${WENDREL_SOURCE_DATE_EPOCH}")
endfunction()
