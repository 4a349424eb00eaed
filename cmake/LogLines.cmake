# The catalogue of log lines (log/log_lines.def) for the documents that list
# it: the man page's LOG LINES section, configured at build time, and
# docs/log-lines.md, kept in the source tree.
#
# As a script:
#   cmake -P cmake/LogLines.cmake              writes docs/log-lines.md
#   cmake -DCHECK=ON -P cmake/LogLines.cmake   fails when it differs (a test)

set(BLOCK2GCI_LOG_LINES_DEF "${CMAKE_CURRENT_LIST_DIR}/../log/log_lines.def")
get_filename_component(BLOCK2GCI_LOG_LINES_DEF "${BLOCK2GCI_LOG_LINES_DEF}" ABSOLUTE)
get_filename_component(BLOCK2GCI_LOG_LINES_DOCS "${CMAKE_CURRENT_LIST_DIR}/../docs" ABSOLUTE)

# block2gci_read_log_lines(prefix): sets prefix_NAMES, the kinds in order,
# and for each kind prefix_<kind>_MARK (Plain or Check), _FORM and _MEANING,
# and _WINDOWS_MEANING: the meaning on Windows, where it has one of its own,
# otherwise _MEANING. Sets prefix_NOTATION, the parts of the notation in
# order, and for each prefix_<part>_SYMBOLS, _BRIEF and _CLAUSE.
# Semicolons and brackets, which CMake lists take for their own, are read as
# the control characters 1, 2 and 3; block2gci_log_text() gives them back.
function(block2gci_read_log_lines prefix)
  file(READ "${BLOCK2GCI_LOG_LINES_DEF}" text)
  string(ASCII 1 semicolon)
  string(ASCII 2 open)
  string(ASCII 3 close)
  string(REPLACE ";" "${semicolon}" text "${text}")
  string(REPLACE "[" "${open}" text "${text}")
  string(REPLACE "]" "${close}" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(names "")
  set(notation "")
  set(fields "")
  set(field "")
  set(kind "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^LOG_LINE\\(([A-Za-z0-9]+), *(Plain|Check),$")
      set(kind "${CMAKE_MATCH_1}")
      set(entry log_line_entry)
      list(APPEND names "${kind}")
      set(${prefix}_${kind}_MARK "${CMAKE_MATCH_2}" PARENT_SCOPE)
    elseif(line MATCHES "^LOG_LINE_ON_WINDOWS\\(([A-Za-z0-9]+),$")
      set(kind "${CMAKE_MATCH_1}")
      set(entry windows_entry)
      list(FIND names "${kind}" known)
      if(known LESS 0)
        message(FATAL_ERROR "${BLOCK2GCI_LOG_LINES_DEF}: LOG_LINE_ON_WINDOWS(${kind}) before its entry")
      endif()
    elseif(line MATCHES "^LOG_NOTATION\\(([A-Za-z0-9]+),$")
      set(kind "${CMAKE_MATCH_1}")
      set(entry notation_entry)
      list(APPEND notation "${kind}")
    elseif(kind AND line MATCHES "^ *R\"\\((.*)\\)\"(,|\\))?$")
      # A string ends a field where a comma or the entry's end follows it;
      # otherwise the next line's string goes on with the same field.
      string(APPEND field "${CMAKE_MATCH_1}")
      if(CMAKE_MATCH_2)
        list(APPEND fields "${field}")
        set(field "")
      endif()
      if(CMAKE_MATCH_2 STREQUAL ")")
        if(entry STREQUAL "log_line_entry")
          list(GET fields 0 form)
          list(GET fields 1 meaning)
          set(${prefix}_${kind}_FORM "${form}" PARENT_SCOPE)
          set(${prefix}_${kind}_MEANING "${meaning}" PARENT_SCOPE)
          set(windows_meaning_${kind} "${meaning}")
        elseif(entry STREQUAL "windows_entry")
          list(GET fields 0 windows_meaning_${kind})
        else()
          list(GET fields 0 symbols)
          list(GET fields 1 brief)
          list(GET fields 2 clause)
          set(${prefix}_${kind}_SYMBOLS "${symbols}" PARENT_SCOPE)
          set(${prefix}_${kind}_BRIEF "${brief}" PARENT_SCOPE)
          set(${prefix}_${kind}_CLAUSE "${clause}" PARENT_SCOPE)
        endif()
        set(kind "")
        set(fields "")
      endif()
    elseif(NOT line MATCHES "^(//.*)?$")
      message(FATAL_ERROR "${BLOCK2GCI_LOG_LINES_DEF}: cannot read the line: ${line}")
    endif()
  endforeach()
  if(kind)
    message(FATAL_ERROR "${BLOCK2GCI_LOG_LINES_DEF}: the entry ${kind} does not end")
  endif()
  foreach(kind IN LISTS names)
    set(${prefix}_${kind}_WINDOWS_MEANING "${windows_meaning_${kind}}" PARENT_SCOPE)
  endforeach()
  set(${prefix}_NAMES "${names}" PARENT_SCOPE)
  set(${prefix}_NOTATION "${notation}" PARENT_SCOPE)
endfunction()

# block2gci_log_notation(var symbol_start symbol_end): the notation of the
# forms as one sentence, "In the forms below, ...", each symbol between
# `symbol_start` and `symbol_end` (a symbol within a clause too).
function(block2gci_log_notation var symbol_start symbol_end)
  block2gci_read_log_lines(log)
  set(out "In the forms below,")
  foreach(part IN LISTS log_NOTATION)
    string(REPLACE " " ";" symbols "${log_${part}_SYMBOLS}")
    list(TRANSFORM symbols PREPEND "${symbol_start}")
    list(TRANSFORM symbols APPEND "${symbol_end}")
    list(POP_BACK symbols last)
    list(JOIN symbols ", " joined)
    if(joined STREQUAL "")
      set(joined "${last}")
    else()
      set(joined "${joined} and ${last}")
    endif()
    string(REGEX REPLACE "`([^`]*)`" "${symbol_start}\\1${symbol_end}" clause "${log_${part}_CLAUSE}")
    string(APPEND out " ${joined} ${clause}")
  endforeach()
  set(${var} "${out}" PARENT_SCOPE)
endfunction()

# block2gci_log_text(var): the characters block2gci_read_log_lines() stood in
# for given back in `var`.
function(block2gci_log_text var)
  string(ASCII 1 semicolon)
  string(ASCII 2 open)
  string(ASCII 3 close)
  set(text "${${var}}")
  string(REPLACE "${semicolon}" ";" text "${text}")
  string(REPLACE "${open}" "[" text "${text}")
  string(REPLACE "${close}" "]" text "${text}")
  set(${var} "${text}" PARENT_SCOPE)
endfunction()

# roff for a text on a line of its own or in a quoted macro argument.
function(block2gci_roff var text)
  string(REPLACE "\\" "\\(rs" text "${text}")
  string(REPLACE "\"" "\\(dq" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  if(text MATCHES "^[.']")
    set(text "\\&${text}")
  endif()
  set(${var} "${text}" PARENT_SCOPE)
endfunction()

# block2gci_log_lines_man(var): the man page's list, one tagged paragraph per
# kind: the form in bold, then its meaning.
function(block2gci_log_lines_man var)
  block2gci_read_log_lines(log)
  set(out "")
  foreach(kind IN LISTS log_NAMES)
    block2gci_roff(form "${log_${kind}_FORM}")
    block2gci_roff(meaning "${log_${kind}_MEANING}")
    if(log_${kind}_MARK STREQUAL "Check")
      set(meaning "\\fBcheck:\\fP ${meaning}")
    endif()
    string(APPEND out ".TP\n.B \"${form}\"\n${meaning}\n")
  endforeach()
  string(REGEX REPLACE "\n$" "" out "${out}")
  block2gci_log_text(out)
  set(${var} "${out}" PARENT_SCOPE)
endfunction()

# block2gci_log_notation_man(var): the notation of the forms for the man
# page, one line, the symbols in bold.
function(block2gci_log_notation_man var)
  string(ASCII 4 bold)
  string(ASCII 5 roman)
  block2gci_log_notation(text "${bold}" "${roman}")
  block2gci_roff(text "${text}")
  string(REPLACE "${bold}" "\\fB" text "${text}")
  string(REPLACE "${roman}" "\\fP" text "${text}")
  block2gci_log_text(text)
  set(${var} "${text}" PARENT_SCOPE)
endfunction()

# block2gci_log_lines_markdown(var): docs/log-lines.md, from its template.
function(block2gci_log_lines_markdown var)
  block2gci_read_log_lines(log)
  set(BLOCK2GCI_LOG_LINES "")
  foreach(kind IN LISTS log_NAMES)
    set(meaning "${log_${kind}_MEANING}")
    if(log_${kind}_MARK STREQUAL "Check")
      set(meaning "**check**: ${meaning}")
    endif()
    string(APPEND BLOCK2GCI_LOG_LINES "- `${log_${kind}_FORM}`\\\n  ${meaning}\n")
  endforeach()
  block2gci_log_text(BLOCK2GCI_LOG_LINES)
  block2gci_log_notation(notation "`" "`")
  # The width of the template's other paragraphs.
  block2gci_paragraph(BLOCK2GCI_LOG_NOTATION "${notation}" 110)
  block2gci_log_text(BLOCK2GCI_LOG_NOTATION)
  file(READ "${BLOCK2GCI_LOG_LINES_DOCS}/log-lines.md.in" template)
  string(CONFIGURE "${template}" out @ONLY)
  set(${var} "${out}" PARENT_SCOPE)
endfunction()

# block2gci_wrap(var text first rest): `text` cut at blanks into lines of
# BLOCK2GCI_TEXT_WIDTH characters at most, the first indented by `first`,
# the others by `rest`; each line ends with "\n". A word longer than a line
# stays whole.
set(BLOCK2GCI_TEXT_WIDTH 100)
function(block2gci_wrap var text first rest)
  set(out "")
  set(indent "${first}")
  set(going ON)
  while(going)
    string(LENGTH "${indent}${text}" length)
    string(LENGTH "${indent}" room)
    math(EXPR room "${BLOCK2GCI_TEXT_WIDTH} - ${room}")
    if(length LESS_EQUAL BLOCK2GCI_TEXT_WIDTH OR room LESS 1)
      break()
    endif()
    # A blank just after the room may end the line too.
    math(EXPR head_length "${room} + 1")
    string(SUBSTRING "${text}" 0 ${head_length} head)
    string(FIND "${head}" " " cut REVERSE)
    if(cut LESS 1)
      break()
    endif()
    string(SUBSTRING "${text}" 0 ${cut} line)
    string(APPEND out "${indent}${line}\n")
    math(EXPR cut "${cut} + 1")
    string(SUBSTRING "${text}" ${cut} -1 text)
    set(indent "${rest}")
  endwhile()
  set(${var} "${out}${indent}${text}\n" PARENT_SCOPE)
endfunction()

# block2gci_paragraph(var text width): `text` as one paragraph cut at blanks
# into lines of `width` characters at most, without a line end after the
# last.
function(block2gci_paragraph var text width)
  set(BLOCK2GCI_TEXT_WIDTH ${width})
  block2gci_wrap(out "${text}" "" "")
  string(REGEX REPLACE "\n$" "" out "${out}")
  set(${var} "${out}" PARENT_SCOPE)
endfunction()

# block2gci_log_lines_windows_text(var): LOG-LINES.txt of the Windows zip,
# from its template: plain text in lines of BLOCK2GCI_TEXT_WIDTH characters
# at most, each entry the form (a long one goes on in lines indented by two
# blanks), then its meaning on Windows, indented by four, then a blank line.
function(block2gci_log_lines_windows_text var)
  block2gci_read_log_lines(log)
  set(BLOCK2GCI_LOG_LINES "")
  foreach(kind IN LISTS log_NAMES)
    block2gci_wrap(form "${log_${kind}_FORM}" "" "  ")
    set(meaning "${log_${kind}_WINDOWS_MEANING}")
    if(log_${kind}_MARK STREQUAL "Check")
      set(meaning "check: ${meaning}")
    endif()
    block2gci_wrap(meaning "${meaning}" "    " "    ")
    string(APPEND BLOCK2GCI_LOG_LINES "${form}${meaning}\n")
  endforeach()
  string(REGEX REPLACE "\n+$" "" BLOCK2GCI_LOG_LINES "${BLOCK2GCI_LOG_LINES}")
  block2gci_log_text(BLOCK2GCI_LOG_LINES)
  block2gci_log_notation(notation "" "")
  # The width of the template's other paragraphs.
  block2gci_paragraph(BLOCK2GCI_LOG_NOTATION
    "${notation} A long line goes on in lines indented by two blanks; what it means follows, indented by four." 98)
  block2gci_log_text(BLOCK2GCI_LOG_NOTATION)
  file(READ "${BLOCK2GCI_LOG_LINES_DOCS}/windows/LOG-LINES.txt.in" template)
  string(CONFIGURE "${template}" out @ONLY)
  set(${var} "${out}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  set(document "${BLOCK2GCI_LOG_LINES_DOCS}/log-lines.md")
  block2gci_log_lines_markdown(expected)
  if(CHECK)
    file(READ "${document}" actual)
    if(NOT actual STREQUAL expected)
      message(FATAL_ERROR "docs/log-lines.md differs from log/log_lines.def: "
                          "regenerate it with `cmake -P cmake/LogLines.cmake`")
    endif()
  else()
    file(WRITE "${document}" "${expected}")
  endif()
endif()
