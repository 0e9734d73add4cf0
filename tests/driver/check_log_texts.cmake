# Pins the texts the driver writes to its log: every string literal inside a
# LogMessage call (the format and any literal argument), inside a Fenced call
# (an export's fence text and its arguments; the body it runs is a lambda
# named beforehand, so the call holds no statement of its own) and inside a
# throw (whose text the fences log), in the driver's sources, compared with
# the table in log_texts.txt. Hosts read these lines, spelling mistakes included,
# so a change here is a change of the contract (see ARCHITECTURE.md).
#
#   cmake -DSOURCES=<src folder> -DTABLE=<log_texts.txt> -P check_log_texts.cmake
#
# The table holds one text per line as the source spells it (escapes such as
# \n unexpanded, adjacent literals joined); lines starting with '#' name the
# file the texts below them come from. The order does not count, the number
# of times a text occurs does. -DDUMP=ON prints the texts found, as a table.
cmake_minimum_required(VERSION 3.20)

string(ASCII 1 kEnd)
set(kLiteral "\"([^\"\\\\]|\\\\.)*\"")

# The texts of the literals in `statement`; adjacent literals are one text.
function(texts_of statement out)
  set(texts "")
  string(REGEX MATCHALL "${kLiteral}([ \t\r\n]*${kLiteral})*" groups "${statement}")
  foreach(group IN LISTS groups)
    string(REGEX MATCHALL "${kLiteral}" pieces "${group}")
    set(text "")
    foreach(piece IN LISTS pieces)
      string(REGEX REPLACE "^\"(.*)\"$" "\\1" piece "${piece}")
      string(APPEND text "${piece}")
    endforeach()
    if(NOT text STREQUAL "")
      list(APPEND texts "${text}")
    endif()
  endforeach()
  set(${out} "${texts}" PARENT_SCOPE)
endfunction()

file(GLOB_RECURSE sources "${SOURCES}/*.cpp" "${SOURCES}/*.h")
list(SORT sources)
set(found "")
set(dump "")
foreach(source IN LISTS sources)
  file(READ "${source}" content)
  file(RELATIVE_PATH name "${SOURCES}" "${source}")
  set(header "# ${name}\n")
  # Statements end at ';', which the driver's log texts never contain.
  string(REPLACE ";" "${kEnd}" content "${content}")
  string(REGEX MATCHALL "(LogMessage\\(|Fenced\\(|throw )[^${kEnd}]*" statements "${content}")
  foreach(statement IN LISTS statements)
    if(statement MATCHES "^LogMessage\\(int ")
      continue()
    endif()
    texts_of("${statement}" texts)
    list(APPEND found ${texts})
    foreach(text IN LISTS texts)
      string(APPEND dump "${header}${text}\n")
      set(header "")
    endforeach()
  endforeach()
endforeach()

file(STRINGS "${TABLE}" lines)
set(expected "")
foreach(line IN LISTS lines)
  if(NOT line MATCHES "^#" AND NOT line STREQUAL "")
    list(APPEND expected "${line}")
  endif()
endforeach()

if(DUMP)
  message("${dump}")
  return()
endif()

set(missing ${expected})
set(added ${found})
foreach(text IN LISTS found)
  list(FIND missing "${text}" at)
  if(NOT at EQUAL -1)
    list(REMOVE_AT missing ${at})
  endif()
endforeach()
foreach(text IN LISTS expected)
  list(FIND added "${text}" at)
  if(NOT at EQUAL -1)
    list(REMOVE_AT added ${at})
  endif()
endforeach()
list(LENGTH found count)
if(count EQUAL 0)
  message(FATAL_ERROR "no log texts found under ${SOURCES}")
endif()
if(missing OR added)
  list(JOIN missing "\n  " missingText)
  list(JOIN added "\n  " addedText)
  message(FATAL_ERROR "The driver's log texts differ from ${TABLE}.\n"
          "In the table, not in the code:\n  ${missingText}\nIn the code, not in the table:\n  ${addedText}")
endif()
message(STATUS "${count} log texts as in the table")
