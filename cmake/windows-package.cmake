# The zip for Windows users: both programs, vardel-find and the simulated
# device, a short notice, the guide to the simulator, the manuals as text and
# the batch files of the examples, all with Windows line ends (the sources of
# the texts keep Unix ones), under one folder named like the zip.
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

# The manuals: the Windows sections of man/vardel1.1.in (vardel-manual.txt)
# and of man/vardel-find.1.in (vardel-find-manual.txt), rendered without
# hyphenation, so that no word is split across two lines.
include(${CMAKE_CURRENT_LIST_DIR}/manual-pages.cmake)
set(VARDEL_MANUAL_TEXTS "")
foreach(manual vardel1:vardel-manual.txt vardel-find:vardel-find-manual.txt)
  string(REPLACE ":" ";" manual ${manual})
  list(GET manual 0 page)
  list(GET manual 1 text)
  set(windows_page ${VARDEL_MAN_DIR}/windows/${page}.1)
  vardel_platform_page(${CMAKE_SOURCE_DIR}/man/${page}.1.in ${windows_page} windows)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${text}
    COMMAND ${CMAKE_COMMAND} -DPAGE=${windows_page} -DOUTPUT=${CMAKE_BINARY_DIR}/${text} -DHYPHENATE=OFF
            -P ${CMAKE_CURRENT_LIST_DIR}/manual-text.cmake
    DEPENDS ${windows_page} ${CMAKE_CURRENT_LIST_DIR}/manual-text.cmake VERBATIM)
  list(APPEND VARDEL_MANUAL_TEXTS ${CMAKE_BINARY_DIR}/${text})
endforeach()
add_custom_target(vardel_manual_text ALL DEPENDS ${VARDEL_MANUAL_TEXTS})
install(FILES ${VARDEL_MANUAL_TEXTS} DESTINATION .)

add_custom_target(vardel_zip
  COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR} -DSOURCE_DIR=${CMAKE_SOURCE_DIR}
          -DNAME=${VARDEL_ZIP_NAME} -P ${CMAKE_CURRENT_LIST_DIR}/windows-zip.cmake
  COMMENT "Packing ${VARDEL_ZIP_NAME}.zip" VERBATIM)
add_dependencies(vardel_zip vardel1 vardel3 vardel-sim vardel-find vardel_manual_text)
