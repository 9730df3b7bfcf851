# Helpers shared by the folders' CMakeLists.

# On Windows the string table, dialog and registration script are compiled by
# windres into an object that has no symbol anyone refers to, so a static
# library would drop it: every final binary (the DLL, each executable, each
# test) links the resource object itself. Natively the same table is compiled
# into wendrel_ext and nothing extra is needed.
function(wendrel_link_resources target)
  if(WENDREL_WINDOWS)
    target_link_libraries(${target} PRIVATE wendrel_resources)
  endif()
endfunction()

# A program of the project (tool, host, qzlogin) built for either system.
function(wendrel_add_executable target)
  add_executable(${target} ${ARGN})
  target_link_libraries(${target} PRIVATE wendrel_ext)
  wendrel_link_resources(${target})
endfunction()

# A GoogleTest executable registered with CTest. Under the mingw preset the
# tests run as Windows programs under Wine through the cross-compiling
# emulator; discovery happens at test time with a generous time-out, since
# Wine's first start in a fresh prefix takes seconds.
#   wendrel_add_gtest(NAME SOURCES a.cc b.cc [LIBS x y] [PROPERTIES k v ...])
function(wendrel_add_gtest name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE wendrel_ext GTest::gmock GTest::gtest_main ${T_LIBS})
  wendrel_link_resources(${name})
  # Under Wine every test program shares the prefix's one registry, so tests
  # that run at the same time would see each other's keys: they take turns.
  # Natively each test works in a store file of its own and runs in parallel.
  if(WENDREL_WINDOWS)
    list(APPEND T_PROPERTIES RESOURCE_LOCK wine_registry)
  endif()
  if(T_PROPERTIES)
    set(props PROPERTIES ${T_PROPERTIES})
  else()
    set(props "")
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 180
    ${props})
endfunction()

# The test sources of one area folder for this build: *_test.cc on both
# systems, *_posix_test.cc only natively, *_win32_test.cc only on Windows.
function(wendrel_area_test_sources out dir)
  file(GLOB both CONFIGURE_DEPENDS ${dir}/*_test.cc)
  list(FILTER both EXCLUDE REGEX "_(posix|win32)_test\\.cc$")
  if(WENDREL_WINDOWS)
    file(GLOB only CONFIGURE_DEPENDS ${dir}/*_win32_test.cc)
  else()
    file(GLOB only CONFIGURE_DEPENDS ${dir}/*_posix_test.cc)
  endif()
  set(${out} ${both} ${only} PARENT_SCOPE)
endfunction()

# Writes <dir>/resources/version_number.h for the given version (only when its
# content changes, so an unchanged version rebuilds nothing).
function(wendrel_generate_version_header dir major minor patch)
  set(WENDREL_VERSION_MAJOR ${major})
  set(WENDREL_VERSION_MINOR ${minor})
  set(WENDREL_VERSION_PATCH ${patch})
  configure_file(${CMAKE_SOURCE_DIR}/resources/version_number.h.in
                 ${dir}/resources/version_number.h @ONLY)
endfunction()

# Links the C++ runtime into `target` (natively, without sanitizers, which
# need the shared one). qzlogin and the extension then load no libstdc++,
# libm or libgcc_s: the program's start-up is mostly loading and relocating
# libraries, and libstdc++'s thousands of symbol relocations were the largest
# share that ldapsearch does not pay. Each keeps a copy of the parts it uses;
# nothing of the runtime crosses between them (their interface is C, and the
# extension lets no exception out), so the two copies never meet.
function(wendrel_static_cxx_runtime target)
  if(NOT WENDREL_WINDOWS AND NOT WENDREL_SANITIZE)
    target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc)
  endif()
endfunction()
