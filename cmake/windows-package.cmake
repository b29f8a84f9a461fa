# The zip for Windows users: both programs and the simulated device, a short
# notice, the guide to the simulator, the manual as text and the batch files
# of the examples, all with Windows line ends (the sources of the texts keep
# Unix ones), under one folder named like the zip.
#   cmake --build <cross build folder> --target vardel_zip
# The zip's name, which the guide names too.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(VARDEL_ZIP_NAME vardel-${PROJECT_VERSION}-windows-x86)
else()
  set(VARDEL_ZIP_NAME vardel-${PROJECT_VERSION}-windows-x86_64)
endif()
foreach(text README-windows.txt vardel-sim-guide.txt)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/${text} ${CMAKE_BINARY_DIR}/${text} @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_BINARY_DIR}/${text} DESTINATION .)
endforeach()

# The Windows calling programs, with Windows line ends whatever the checkout
# gave them.
foreach(script log_ead.cmd read_ead.cmd)
  configure_file(${CMAKE_SOURCE_DIR}/examples/${script} ${CMAKE_BINARY_DIR}/examples/${script} @ONLY
                 NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_BINARY_DIR}/examples/${script} DESTINATION examples)
endforeach()

# The manual: the Windows sections of man/vardel1.1.in, rendered without
# hyphenation, so that no word is split across two lines.
include(${CMAKE_CURRENT_LIST_DIR}/manual-pages.cmake)
set(VARDEL_WINDOWS_PAGE ${VARDEL_MAN_DIR}/windows/vardel1.1)
vardel_platform_page(${CMAKE_SOURCE_DIR}/man/vardel1.1.in ${VARDEL_WINDOWS_PAGE} windows)
set(VARDEL_MANUAL_TEXT ${CMAKE_BINARY_DIR}/vardel-manual.txt)
add_custom_command(OUTPUT ${VARDEL_MANUAL_TEXT}
  COMMAND ${CMAKE_COMMAND} -DPAGE=${VARDEL_WINDOWS_PAGE} -DOUTPUT=${VARDEL_MANUAL_TEXT} -DHYPHENATE=OFF
          -P ${CMAKE_CURRENT_LIST_DIR}/manual-text.cmake
  DEPENDS ${VARDEL_WINDOWS_PAGE} ${CMAKE_CURRENT_LIST_DIR}/manual-text.cmake VERBATIM)
add_custom_target(vardel_manual_text ALL DEPENDS ${VARDEL_MANUAL_TEXT})
install(FILES ${VARDEL_MANUAL_TEXT} DESTINATION .)

add_custom_target(vardel_zip
  COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR} -DSOURCE_DIR=${CMAKE_SOURCE_DIR}
          -DNAME=${VARDEL_ZIP_NAME} -P ${CMAKE_CURRENT_LIST_DIR}/windows-zip.cmake
  COMMENT "Packing ${VARDEL_ZIP_NAME}.zip" VERBATIM)
add_dependencies(vardel_zip vardel1 vardel3 vardel-sim vardel_manual_text)
