# The zip for Windows users: both programs, a short notice and the manual as
# text, all with Windows line ends.
#   cpack -G ZIP   (in the cross build folder)
configure_file(${CMAKE_SOURCE_DIR}/packaging/README-windows.txt
               ${CMAKE_BINARY_DIR}/README-windows.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES ${CMAKE_BINARY_DIR}/README-windows.txt DESTINATION .)

include(${CMAKE_CURRENT_LIST_DIR}/manual-pages.cmake)
set(VARDEL_MANUAL_TEXT ${CMAKE_BINARY_DIR}/vardel-manual.txt)
add_custom_command(OUTPUT ${VARDEL_MANUAL_TEXT}
  COMMAND ${CMAKE_COMMAND} -DPAGE=${VARDEL_MAN_DIR}/vardel1.1 -DOUTPUT=${VARDEL_MANUAL_TEXT}
          -P ${CMAKE_CURRENT_LIST_DIR}/manual-text.cmake
  DEPENDS ${VARDEL_MAN_DIR}/vardel1.1 ${CMAKE_CURRENT_LIST_DIR}/manual-text.cmake VERBATIM)
add_custom_target(vardel_manual_text ALL DEPENDS ${VARDEL_MANUAL_TEXT})
install(FILES ${VARDEL_MANUAL_TEXT} DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME vardel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(CPACK_PACKAGE_FILE_NAME vardel-${PROJECT_VERSION}-windows-x86)
else()
  set(CPACK_PACKAGE_FILE_NAME vardel-${PROJECT_VERSION}-windows-x86_64)
endif()
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Command-line drivers of the Orphy Portable 2 interface")
set(CPACK_STRIP_FILES ON)
include(CPack)
