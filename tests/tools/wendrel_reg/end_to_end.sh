#!/bin/bash
# wendrel-reg end to end: the real binary against a store of its own.
#   end_to_end.sh PATH/TO/wendrel-reg
set -u
reg=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export WENDREL_REGISTRY=$work/registry.db
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# expect RC ARGS...: runs the tool, stdin not a terminal, and checks the exit
# status; sets $out and $err.
expect() {
  local want=$1
  shift
  "$reg" "$@" </dev/null >"$work/out" 2>"$work/err"
  local rc=$?
  out=$(cat "$work/out")
  err=$(cat "$work/err")
  [ "$rc" == "$want" ] || fail "wendrel-reg $* exited $rc, expected $want; stderr: $err"
}

expect_output() {  # expect_output WHAT EXPECTED ARGS...: exit 0 and exactly EXPECTED
  local what=$1 want=$2
  shift 2
  expect 0 "$@"
  [ "$out" == "$want" ] || fail "$what: got"$'\n'"$out"$'\n'"expected"$'\n'"$want"
}

expect_failure() {  # expect_failure TEXT ARGS...: exit 1 with TEXT on stderr
  local text=$1
  shift
  expect 1 "$@"
  [[ "$err" == *"$text"* ]] || fail "wendrel-reg $*: stderr lacks '$text': $err"
}

K='HKLM\Software\Tarvos'
F='HKEY_LOCAL_MACHINE\Software\Tarvos'

# --- add, every type, then the exact query output.
expect_output "add" "The operation completed successfully." add "$K" /ve /d 'd\efault'
expect 0 add "$K" /v Name /t REG_SZ /d $'caf\xc3\xa9'
expect 0 add "$K" /v Path /t REG_EXPAND_SZ /d '%SystemRoot%\x'
expect 0 add "$K" /v List /t REG_MULTI_SZ /d 'a\0b\0c'
expect 0 add "$K" /v Count /t REG_DWORD /d 42
expect 0 add "$K" /v Big /t REG_QWORD /d 0x100000000
expect 0 add "$K" /v Blob /t REG_BINARY /d 00abFF
expect 0 add "$K" /v Nothing /t REG_NONE
expect 0 add 'HKEY_LOCAL_MACHINE\Software\Tarvos\Sub' /v Inner /t REG_DWORD /d 0x10
expect 0 add "$K\\Empty"

query_top=$'\n'"$F"$'
    (Default)    REG_SZ    d\\efault
    Name    REG_SZ    caf\xc3\xa9
    Path    REG_EXPAND_SZ    %SystemRoot%\\x
    List    REG_MULTI_SZ    a\\0b\\0c
    Count    REG_DWORD    0x2a
    Big    REG_QWORD    0x100000000
    Blob    REG_BINARY    00ABFF
    Nothing    REG_NONE    '
expect_output "query" "$query_top"$'\n\n'"$F\\Empty"$'\n'"$F\\Sub" query "$K"
expect_output "query /s" \
  "$query_top"$'\n\n'"$F\\Empty"$'\n\n'"$F\\Sub"$'\n    Inner    REG_DWORD    0x10' query "$K" /s
expect_output "query /v" $'\n'"$F"$'\n    Count    REG_DWORD    0x2a' query "$K" /v count
expect_output "query /v /s" $'\n'"$F\\Sub"$'\n    Inner    REG_DWORD    0x10' query "$K" /v Inner /s

# --- failures: exit 1 with the reason on stderr.
expect_failure "ERROR: The system was unable to find" query "$K" /v Missing
expect_failure "ERROR: The system was unable to find" query 'HKLM\Software\Missing'
expect_failure "Only HKEY_LOCAL_MACHINE" query 'HKCU\Software'
expect_failure "Invalid REG_DWORD data" add "$K" /v X /t REG_DWORD /d 4294967296
expect_failure "cannot hold" add "$K" /v X /d $'\xe4\xb8\xad'
expect_failure "Invalid type" add "$K" /v X /t REG_WHAT /d 1
expect_failure "Usage:" add "$K" /v X /ve
expect_failure "Usage:" add
expect_failure "Usage:" frobnicate "$K"
expect_failure "Unknown option /q" query "$K" /q
expect 0 --help
[[ "$out" == *"/sec"* ]] || fail "--help does not document /sec"
for help in /? -? --help; do  # an operation's own help, whatever follows it
  expect 0 query "$K" "$help"
  [[ "$out" == "Usage:"*"wendrel-reg query KEY"* ]] || fail "query $help: $out"
done
expect 1 delete "$K" /v Missing /f
expect 1 delete 'HKLM\Software\Missing' /f

# --- without /f and without a terminal, add replaces and delete deletes.
expect 0 add "$K" /v Count /t REG_DWORD /d 7
expect_output "replaced" $'\n'"$F"$'\n    Count    REG_DWORD    0x7' query "$K" /v Count

# --- export (its text RegFileWriterTest checks) refuses to overwrite
# without /y; delete everything, import the export, get the same bytes.
expect 0 export "$K" "$work/a.reg"
expect_failure "/y" export "$K" "$work/a.reg"
expect 0 export "$K" "$work/a.reg" /y
expect 0 query "$K" /s
before=$out
expect 0 delete "$K"
expect 1 query "$K"
expect 0 import "$work/a.reg"
expect 0 query "$K" /s
[ "$out" == "$before" ] || fail "query after re-import differs: $out"$'\n'"vs $before"
expect 0 export "$K" "$work/b.reg"
cmp -s "$work/a.reg" "$work/b.reg" || fail "export after re-import differs from the first export"

# --- delete values.
expect 0 delete "$K" /v Name
expect 1 query "$K" /v Name
expect 0 delete "$K" /ve /f
expect 1 query "$K" /ve
expect 0 delete "$K\\Sub" /va /f
expect_output "after /va" $'\n'"$F\\Sub" query "$K\\Sub"

# --- import of a REGEDIT4 ANSI file with every form; then one with an error
# changes nothing.
{
  printf 'REGEDIT4\r\n\r\n; comment\r\n'
  printf '[-HKEY_LOCAL_MACHINE\\Software\\Tarvos\\Sub]\r\n'
  printf '[HKEY_LOCAL_MACHINE\\Software\\Tarvos\\Four]\r\n'
  printf '"S"="caf\xe9 \\"q\\" \\\\"\r\n'
  printf '"H"=hex(7):61,00,\\\r\n  62,00,00\r\n'
  printf '"Count"=-\r\n@=dword:ffffffff\r\n'
} >"$work/four.reg"
expect 0 import "$work/four.reg"
expect 1 query "$K\\Sub"
expect_output "REGEDIT4 import" $'\n'"$F\\Four"$'
    S    REG_SZ    caf\xc3\xa9 "q" \\
    H    REG_MULTI_SZ    a\\0b
    (Default)    REG_DWORD    0xffffffff' query "$K\\Four"
printf '%s\n' 'Windows Registry Editor Version 5.00' '' '[HKLM\Software\Tarvos\Bad]' \
  '"ok"="1"' '"bad"=hex:01,\' '  0g' >"$work/bad.reg"
expect_failure "bad.reg:6:" import "$work/bad.reg"
expect 1 query "$K\\Bad"
expect 1 import "$work/none.reg"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "all wendrel-reg checks passed"
