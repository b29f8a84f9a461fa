# Renders a manual page as plain text with Windows line ends:
#   cmake -DPAGE=vardel1.1 -DOUTPUT=vardel-manual.txt [-DHYPHENATE=OFF] -P manual-text.cmake
# Latin-1 output, so that accented letters are the Windows-1252 bytes the
# programs print (é 0xE9); grotty's -c -b -o -u leave no overstrikes or
# escape sequences, only the characters. HYPHENATE=OFF: no word is split
# across lines (the man macros' HY register), so that a search finds it.
set(options)
if(DEFINED HYPHENATE AND NOT HYPHENATE)
  list(APPEND options -rHY=0)
endif()
execute_process(
  COMMAND groff -man -Tlatin1 -P-c -P-b -P-o -P-u -ww ${options} ${PAGE}
  OUTPUT_VARIABLE text ERROR_VARIABLE warnings RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT warnings STREQUAL "" OR text STREQUAL "")
  message(FATAL_ERROR "groff could not render ${PAGE} cleanly (status ${status}):\n${warnings}")
endif()
string(REGEX REPLACE "\n\n\n+" "\n\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUTPUT} "${text}")
