# Makes the manual page ostrivo-cli(1) from the program's own --help and
# --version with help2man, so that it follows the options, and compresses it
# as Debian wants (gzip -9n: no name, no time stamp).
#
#   cmake -DHELP2MAN=... -DGZIP=... -DPROGRAM=ostrivo-cli -DINCLUDE=ostrivo-cli.h2m
#         -DOUTPUT=ostrivo-cli.1.gz -P man-page.cmake
#
# SOURCE_DATE_EPOCH, when set, dates the page.
foreach(v HELP2MAN GZIP PROGRAM INCLUDE OUTPUT)
  if(NOT DEFINED ${v})
    message(FATAL_ERROR "man-page.cmake: ${v} is not set")
  endif()
endforeach()

# The options' help is read in a UTF-8 locale, as a user reads it.
execute_process(
  COMMAND ${HELP2MAN} --no-info --locale=C.UTF-8 --section=1 --include=${INCLUDE} ${PROGRAM}
  OUTPUT_VARIABLE page
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man failed (${status})")
endif()

# GLib's help starts with "Usage:" on a line of its own, which help2man keeps
# as a paragraph of the description; the synopsis already says it.
string(REGEX REPLACE "\\.SS \"Usage:\"\n\\.IP\n[^\n]*\n\\.PP\n" "" page "${page}")
string(FIND "${page}" ".SS \"Usage:\"" left)
if(NOT left EQUAL -1)
  message(WARNING "man-page.cmake: the usage paragraph of --help has a new shape; it stays in the page")
endif()

get_filename_component(dir "${OUTPUT}" DIRECTORY)
get_filename_component(name "${OUTPUT}" NAME_WLE)
file(WRITE "${dir}/${name}" "${page}")
execute_process(COMMAND ${GZIP} -9nc "${dir}/${name}" OUTPUT_FILE "${OUTPUT}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip failed (${status})")
endif()
