# Writes the manual page of one program from its --help text, then compresses it.
#   cmake -DPROGRAM=path -DNAME=name -DSECTION=1 -DSUMMARY=text -DVERSION=x.y -DOUT=file
#         [-DEMULATOR=runner] -P make_man_page.cmake
# Fails when the program does not answer --help with code 0 and some text, or --version
# with "<name> <version>".
# The page: NAME (name and summary), SYNOPSIS (the help's "Usage:" lines) and DESCRIPTION
# (the rest of the help, line for line, unfilled so that tables and examples keep their
# shape).

execute_process(COMMAND ${EMULATOR} ${PROGRAM} --help
                OUTPUT_VARIABLE help ERROR_VARIABLE help_errors RESULT_VARIABLE code
                TIMEOUT 30)
if(NOT code EQUAL 0 OR help STREQUAL "")
  message(FATAL_ERROR "${NAME} --help: code ${code}, no text on standard output ${help_errors}")
endif()
execute_process(COMMAND ${EMULATOR} ${PROGRAM} --version
                OUTPUT_VARIABLE version ERROR_VARIABLE version_errors RESULT_VARIABLE code
                TIMEOUT 30)
string(STRIP "${version}" version)
if(NOT code EQUAL 0 OR NOT version STREQUAL "${NAME} ${VERSION}")
  message(FATAL_ERROR "${NAME} --version: code ${code}, printed \"${version}\" ${version_errors}")
endif()

# Roff escapes: backslashes first, then minus signs (options must stay ASCII hyphens), and
# a control character at the start of a line is made plain text.
function(roff_line out text)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  if(text MATCHES "^[.']")
    set(text "\\&${text}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

string(TOUPPER "${NAME}" title)
roff_line(name_line "${NAME}")
roff_line(summary_line "${SUMMARY}")
set(synopsis "")
set(description "")
set(in_usage FALSE)
string(REPLACE ";" "\\;" help "${help}")
string(REGEX REPLACE "\n$" "" help "${help}")
string(REPLACE "\n" ";" lines "${help}")
foreach(line IN LISTS lines)
  # "Usage: a ..." and the lines after it that continue it ("   or: ...", indented).
  if(line MATCHES "^[Uu]sage: *(.*)$")
    set(in_usage TRUE)
    roff_line(text "${CMAKE_MATCH_1}")
    string(APPEND synopsis "${text}\n")
    continue()
  endif()
  if(in_usage AND NOT line MATCHES "^ +-" AND line MATCHES "^ +(or: *)?([^ ].*)$")
    roff_line(text "${CMAKE_MATCH_2}")
    string(APPEND synopsis "${text}\n")
    continue()
  endif()
  set(in_usage FALSE)
  roff_line(text "${line}")
  if(text STREQUAL "")
    set(text ".sp")
  endif()
  string(APPEND description "${text}\n")
endforeach()
string(REGEX REPLACE "^(\\.sp\n)+" "" description "${description}")

set(page ".TH \"${title}\" \"${SECTION}\" \"\" \"Vistrel ${VERSION}\" \"Vistrel\"\n")
string(APPEND page ".SH NAME\n${name_line} \\- ${summary_line}\n")
if(NOT synopsis STREQUAL "")
  string(APPEND page ".SH SYNOPSIS\n.nf\n${synopsis}.fi\n")
endif()
string(APPEND page ".SH DESCRIPTION\n.nf\n${description}.fi\n")
string(APPEND page ".SH VERSION\nThis page describes ${name_line} ${VERSION}; it is made from the\n")
string(APPEND page "program's own \\fB\\-\\-help\\fR text.\n")
file(WRITE "${OUT}" "${page}")

find_program(GZIP gzip)
if(NOT GZIP)
  message(FATAL_ERROR "gzip is needed to compress the manual pages")
endif()
execute_process(COMMAND ${GZIP} -9nf "${OUT}" RESULT_VARIABLE code)
if(NOT code EQUAL 0)
  message(FATAL_ERROR "gzip ${OUT}: code ${code}")
endif()
