# The zip for Windows users: both programs and a short notice.
#   cpack -G ZIP   (in the cross build folder)
configure_file(${CMAKE_SOURCE_DIR}/packaging/README-windows.txt
               ${CMAKE_BINARY_DIR}/README-windows.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES ${CMAKE_BINARY_DIR}/README-windows.txt DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME vardel)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(CPACK_PACKAGE_FILE_NAME vardel-windows-x86)
else()
  set(CPACK_PACKAGE_FILE_NAME vardel-windows-x86_64)
endif()
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Command-line drivers of the Orphy Portable 2 interface")
set(CPACK_STRIP_FILES ON)
include(CPack)
