# The manual pages, roff from man/ with the project's version filled in:
# ${VARDEL_MAN_DIR}/vardel1.1, vardel3.1 (which leads to vardel1.1) and
# vardel-sim.1, vardel-find.1.
#
# man/vardel1.1.in and man/vardel-find.1.in are each the one source of a
# Linux page and of a Windows manual: the lines between `.\" linux{` and
# `.\" }linux` are the Linux page's alone, those between `.\" windows{` and
# `.\" }windows` the Windows manual's; everything else is both's. vardel_platform_page() writes one
# platform's page.
set(VARDEL_MAN_DIR ${CMAKE_BINARY_DIR}/man)
set(VARDEL_MAN_PAGES vardel1.1 vardel3.1 vardel-sim.1 vardel-find.1)

function(vardel_platform_page source output platform)
  if(platform STREQUAL "linux")
    set(other windows)
  elseif(platform STREQUAL "windows")
    set(other linux)
  else()
    message(FATAL_ERROR "vardel_platform_page: no platform ${platform}")
  endif()
  file(READ ${source} text)
  set(open ".\\\" ${other}{\n")
  set(close ".\\\" }${other}\n")
  string(LENGTH "${close}" close_length)
  string(FIND "${text}" "${open}" begin)
  string(FIND "${text}" "${close}" end)
  while(NOT begin EQUAL -1 OR NOT end EQUAL -1)
    if(begin EQUAL -1 OR end LESS begin)
      message(FATAL_ERROR "${source}: a ${other} block that doesn't open and close in turn")
    endif()
    math(EXPR after "${end} + ${close_length}")
    string(SUBSTRING "${text}" 0 ${begin} head)
    string(SUBSTRING "${text}" ${after} -1 tail)
    set(text "${head}${tail}")
    string(FIND "${text}" "${open}" begin)
    string(FIND "${text}" "${close}" end)
  endwhile()
  string(REPLACE ".\\\" ${platform}{\n" "" text "${text}")
  string(REPLACE ".\\\" }${platform}\n" "" text "${text}")
  string(CONFIGURE "${text}" text @ONLY)
  file(WRITE ${output} "${text}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
endfunction()

vardel_platform_page(${CMAKE_SOURCE_DIR}/man/vardel1.1.in ${VARDEL_MAN_DIR}/vardel1.1 linux)
configure_file(${CMAKE_SOURCE_DIR}/man/vardel3.1 ${VARDEL_MAN_DIR}/vardel3.1 COPYONLY)
configure_file(${CMAKE_SOURCE_DIR}/man/vardel-sim.1.in ${VARDEL_MAN_DIR}/vardel-sim.1 @ONLY)
vardel_platform_page(${CMAKE_SOURCE_DIR}/man/vardel-find.1.in ${VARDEL_MAN_DIR}/vardel-find.1 linux)
