# Writes the message compiler's source (.mc) for the events of
# event_messages.def, so that windmc builds wendrel.dll's message table from
# the same list the code renders natively:
#   cmake -DDEF=event_messages.def -DMC=event_messages.mc -P event_messages_mc.cmake
#
# Every message id carries its level in the top two bits (windmc's severity),
# no facility and no customer bit: the Event Viewer shows the low 16 bits, the
# id of the .def. Each text ends in "%0", which ends the message without the
# line break windmc would add, so FormatMessage gives the .def's text as it is.
# A text the message compiler or FormatMessage would read differently (a "%"
# other than %1..%9, an insertion followed by "!", a backslash escape) stops
# the build rather than reach an administrator changed.
cmake_minimum_required(VERSION 3.21)
file(READ ${DEF} def)
string(REGEX REPLACE "//[^\n]*" "" def "${def}")

set(mc "; // Generated from resources/event_messages.def by resources/event_messages_mc.cmake.
MessageIdTypedef=DWORD
SeverityNames=(Informational=0x1:STATUS_SEVERITY_INFORMATIONAL
               Warning=0x2:STATUS_SEVERITY_WARNING
               Error=0x3:STATUS_SEVERITY_ERROR)
LanguageNames=(English=0x409:MSG00409)
")
set(severity_Error Error)
set(severity_Warning Warning)
set(severity_Information Informational)
set(space "[ \n]*")
set(event_regex
    "WENDREL_EVENT\\(([0-9]+),${space}([A-Za-z]+),${space}([A-Za-z]+),${space}\"([^\"]*)\"\\)")
set(count 0)
while(TRUE)
  string(REGEX MATCH "${event_regex}" entry "${def}")
  if(NOT entry)
    break()
  endif()
  set(id ${CMAKE_MATCH_1})
  set(level ${CMAKE_MATCH_2})
  set(name ${CMAKE_MATCH_3})
  set(text "${CMAKE_MATCH_4}")
  if(NOT DEFINED severity_${level})
    message(FATAL_ERROR "${DEF}: event ${id}: no level ${level}")
  endif()
  string(REGEX REPLACE "%[1-9]" "" bare "${text}")
  if(bare MATCHES "[%\\\\]" OR text MATCHES "%[1-9][0-9!]")
    message(FATAL_ERROR "${DEF}: event ${id}: the text may hold %1 to %9 and no other % or \\")
  endif()
  string(APPEND mc "
MessageId=${id}
Severity=${severity_${level}}
SymbolicName=WENDREL_EVENT_${name}
Language=English
${text}%0
.
")
  math(EXPR count "${count} + 1")
  string(FIND "${def}" "${entry}" at)
  string(LENGTH "${entry}" length)
  math(EXPR rest "${at} + ${length}")
  string(SUBSTRING "${def}" ${rest} -1 def)
endwhile()
if(count EQUAL 0)
  message(FATAL_ERROR "${DEF}: no events")
endif()
file(WRITE ${MC}.new "${mc}")
# Unchanged bytes keep the file's time: windmc and the link do not run again.
file(COPY_FILE ${MC}.new ${MC} ONLY_IF_DIFFERENT)
file(REMOVE ${MC}.new)
