# The zip for Windows users: both programs, vardel-find and the simulated device, a short
# notice, the guide to the simulator and the manuals as text, all with Windows
# line ends (the sources keep Unix ones), under one folder named like the zip.
#   cmake --build <cross build folder> --target vardel_zip
foreach(text README-windows.txt vardel-sim-guide.txt)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/${text} ${CMAKE_BINARY_DIR}/${text} @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_BINARY_DIR}/${text} DESTINATION .)
endforeach()

# The manuals as text: vardel1's (vardel-manual.txt) and vardel-find's
# (vardel-find-manual.txt).
include(${CMAKE_CURRENT_LIST_DIR}/manual-pages.cmake)
set(VARDEL_MANUAL_TEXTS "")
foreach(manual vardel1.1:vardel-manual.txt vardel-find.1:vardel-find-manual.txt)
  string(REPLACE ":" ";" manual ${manual})
  list(GET manual 0 page)
  list(GET manual 1 text)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${text}
    COMMAND ${CMAKE_COMMAND} -DPAGE=${VARDEL_MAN_DIR}/${page} -DOUTPUT=${CMAKE_BINARY_DIR}/${text}
            -P ${CMAKE_CURRENT_LIST_DIR}/manual-text.cmake
    DEPENDS ${VARDEL_MAN_DIR}/${page} ${CMAKE_CURRENT_LIST_DIR}/manual-text.cmake VERBATIM)
  list(APPEND VARDEL_MANUAL_TEXTS ${CMAKE_BINARY_DIR}/${text})
endforeach()
add_custom_target(vardel_manual_text ALL DEPENDS ${VARDEL_MANUAL_TEXTS})
install(FILES ${VARDEL_MANUAL_TEXTS} DESTINATION .)

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(VARDEL_ZIP_NAME vardel-${PROJECT_VERSION}-windows-x86)
else()
  set(VARDEL_ZIP_NAME vardel-${PROJECT_VERSION}-windows-x86_64)
endif()
add_custom_target(vardel_zip
  COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR} -DSOURCE_DIR=${CMAKE_SOURCE_DIR}
          -DNAME=${VARDEL_ZIP_NAME} -P ${CMAKE_CURRENT_LIST_DIR}/windows-zip.cmake
  COMMENT "Packing ${VARDEL_ZIP_NAME}.zip" VERBATIM)
add_dependencies(vardel_zip vardel1 vardel3 vardel-sim vardel-find vardel_manual_text)
