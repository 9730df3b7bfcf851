# qzlogin end to end with the tests' own extension: the JSON report's shape
# and values, chaining, buffers shorter than the texts, tag 87, the scripted
# message boxes (natively) and the exit statuses.
# Run as: cmake -DQZLOGIN=... -DEXTENSION=... [-DWINE_RUN=...] -DWORK_DIR=... -P <this file>

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(ENV{WENDREL_ACP} WINDOWS-1252)
if(WINE_RUN)
  # The DLL by its Windows path on Wine's Z: drive (the Unix root).
  string(REPLACE "/" "\\" extension "Z:${EXTENSION}")
else()
  set(extension ${EXTENSION})
endif()

# Runs qzlogin with ARGN and expects `status`; leaves standard output in `out`.
function(qzlogin status)
  # No terminal on standard input: unscripted boxes are answered unattended.
  # Output goes through files, not pipes: a Wine background process that the
  # first window starts inherits the handles and would hold a pipe open.
  execute_process(COMMAND ${WINE_RUN} ${QZLOGIN} ${ARGN} INPUT_FILE /dev/null
                  RESULT_VARIABLE got OUTPUT_FILE ${WORK_DIR}/stdout ERROR_FILE ${WORK_DIR}/stderr)
  file(READ ${WORK_DIR}/stdout stdout)
  file(READ ${WORK_DIR}/stderr stderr)
  if(NOT got EQUAL status)
    message(FATAL_ERROR "qzlogin ${ARGN}: status ${got}, expected ${status}\n${stdout}${stderr}")
  endif()
  string(REPLACE "\r" "" stdout "${stdout}")
  set(out "${stdout}" PARENT_SCOPE)
  set(err "${stderr}" PARENT_SCOPE)
endfunction()

# Expects the JSON value at the path (member names and array indexes) of the
# last report to be `expected`.
function(expect expected)
  string(JSON got ERROR_VARIABLE error GET "${out}" ${ARGN})
  if(error)
    message(FATAL_ERROR "${ARGN}: ${error}\n${out}")
  endif()
  if(NOT got STREQUAL expected)
    message(FATAL_ERROR "${ARGN}: \"${got}\", expected \"${expected}\"\n${out}")
  endif()
endfunction()

function(expect_length expected)
  string(JSON got ERROR_VARIABLE error LENGTH "${out}" ${ARGN})
  if(error OR NOT got EQUAL expected)
    message(FATAL_ERROR "${ARGN}: length ${got}, expected ${expected} ${error}\n${out}")
  endif()
endfunction()

# Expects every member and element of the JSON `expected` at the same place in
# the last report, with the same value; arrays have the same length too.
function(expect_json expected)
  string(JSON type TYPE "${expected}" ${ARGN})
  if(NOT type MATCHES "^(OBJECT|ARRAY)$")
    string(JSON value GET "${expected}" ${ARGN})
    expect("${value}" ${ARGN})
    return()
  endif()
  string(JSON length LENGTH "${expected}" ${ARGN})
  if(type STREQUAL ARRAY)
    expect_length(${length} ${ARGN})
  endif()
  if(length GREATER 0)
    math(EXPR last "${length} - 1")
    foreach(i RANGE ${last})
      set(at ${i})
      if(type STREQUAL OBJECT)
        string(JSON at MEMBER "${expected}" ${ARGN} ${i})
      endif()
      expect_json("${expected}" ${ARGN} ${at})
    endforeach()
  endif()
endfunction()

# A whole login: the handshake, events 0, 1296 and 18, each chained to the
# host's own handler, the record written back and notification 100. The
# typed name goes in as UTF-8, into the record in the ANSI code page, and
# comes back converted again.
qzlogin(0 --extension ${extension} --user "jöe" --tree ACME --json)
expect("${extension}" extension)
expect_json([[{"handshake": {"called": true, "result": 0},
  "events": [{"code": 0, "result": 0, "chained": true},
             {"code": 1296, "result": 0, "chained": true},
             {"code": 18, "result": 0, "chained": true}],
  "record": {"tree": "ACME", "user": "JöE", "context": "sales.Äcme", "field24": "PRESET",
             "callingModule": 577775},
  "notifications": [100], "initialConnCalls": 0, "messageBoxes": [], "dialogs": []}]])

# The events in order with the host handler's result passed through; event 98
# makes the extension call _QZLGGetInitialConn. No user typed: nothing
# written, no notification, callingModule unset.
qzlogin(0 --extension ${extension} --events "98,0x62,5" --chain-result -7 --json)
expect_json([[{"events": [{"code": 0, "result": -7, "chained": true},
  {"code": 98, "result": -7, "chained": true}, {"code": 98, "result": -7, "chained": true},
  {"code": 5, "result": -7, "chained": true}, {"code": 18, "result": -7, "chained": true}],
  "initialConnCalls": 2, "record": {"user": "", "callingModule": 4294967295},
  "notifications": []}]])

# Without the host's own handler in entry 2 the extension has nothing to
# chain to: every event gives 0 and the host handler never runs.
qzlogin(0 --extension ${extension} --user jdoe --no-chain --json)
expect_json([[{"events": [{"result": 0, "chained": false}, {"result": 0, "chained": false},
  {"result": 0, "chained": false}], "record": {"user": "JDOE"}}]])

# Buffers of 4 bytes: the prompt's own texts are cut to 3 and a terminator
# (the extension reads "jdo"); the extension fills context to the last byte,
# so the report gives the whole buffer.
qzlogin(0 --extension ${extension} --user jdoe --tree ACME --buffer-size 4 --json)
expect_json([[{"record": {"tree": "ACM", "field24": "PRE", "user": "JDO", "context": "sale"}}]])

# runEap 1 in a tag-87 record stops the extension; another value does not.
qzlogin(0 --extension ${extension} --user jdoe --run-eap 1 --json)
expect_json([[{"record": {"user": "jdoe", "context": ""}, "notifications": []}]])
qzlogin(0 --extension ${extension} --user jdoe --run-eap 0 --json)
expect("JDOE" record user)

# Another provider with callingModule already set: left as it was.
qzlogin(0 --extension ${extension} --user jdoe --provider other --calling-module 0x10 --json)
expect(16 record callingModule)

# The human-readable report says the same.
qzlogin(0 --extension ${extension} --user jdoe)
foreach(line "user:             \"JDOE\"" "callingModule:    577775 (0x8D0EF)"
             "notifications:    100" "event 1296:")
  string(FIND "${out}" "${line}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "no \"${line}\" in:\n${out}")
  endif()
endforeach()

# qzlogin answers the extension's message boxes and records them (natively
# through its exported hook, on Windows the real MessageBoxA): the continue
# question answered from --answer, unanswered (no terminal) No, and a stop
# box. Under Wine a real box needs a display driver: wine-run's null driver.
set(boxes TRUE)
if(WINE_RUN)
  file(READ ${WINE_RUN} wine_run_text)
  if(NOT wine_run_text MATCHES "WENDREL_WINE_GRAPHICS" OR
     NOT "$ENV{WENDREL_WINE_GRAPHICS}" STREQUAL "null")
    message(STATUS "message boxes not checked: this wine-run has no null display driver")
    set(boxes FALSE)
  endif()
endif()
if(boxes)
  # Owned by the login prompt, which is disabled while the box is up: on
  # Windows the real prompt window, natively qzlogin itself.
  qzlogin(0 --extension ${extension} --user ask --answer yes --json)
  expect_json([[{"messageBoxes": [{"style": 4, "text": "Search the other trees?",
    "owner": "prompt", "ownerDisabled": true}], "record": {"user": "ASK"}}]])
  qzlogin(0 --extension ${extension} --user ask --json)
  expect_json([[{"messageBoxes": [{"style": 4}], "record": {"user": "ask"}}]])
  qzlogin(0 --extension ${extension} --user ask --answer no --json)
  expect("ask" record user)
  qzlogin(0 --extension ${extension} --user fail --json)
  expect_json([[{"messageBoxes": [{"style": 16, "text": "No user was found.",
    "owner": "prompt", "ownerDisabled": true}], "notifications": []}]])
endif()

# Bad arguments: status 2 and the usage, before anything is loaded.
foreach(args "--bogus" "--buffer-size;0" "--buffer-size" "--events;1,,2" "--events;x"
             "--start-ui;256" "--answer;maybe" "--select;1;--cancel" "--chain-result;1x"
             "--calling-module;0x100000000")
  qzlogin(2 ${args})
  if(NOT err MATCHES "usage")
    message(FATAL_ERROR "qzlogin ${args}: no usage in: ${err}")
  endif()
endforeach()

# An extension that cannot be loaded, and a qzlogin without its host module
# beside it: status 1.
qzlogin(1 --extension ${WORK_DIR}/no-such-extension --json)
if(NOT out STREQUAL "")
  message(FATAL_ERROR "a report although nothing ran:\n${out}")
endif()
get_filename_component(name ${QZLOGIN} NAME)
file(COPY ${QZLOGIN} DESTINATION ${WORK_DIR}/alone)
execute_process(COMMAND ${WINE_RUN} ${WORK_DIR}/alone/${name} --extension ${extension}
                RESULT_VARIABLE got OUTPUT_QUIET ERROR_VARIABLE stderr)
if(NOT got EQUAL 1 OR NOT stderr MATCHES "host module")
  message(FATAL_ERROR "qzlogin without its host module: status ${got}\n${stderr}")
endif()

file(REMOVE_RECURSE ${WORK_DIR})
