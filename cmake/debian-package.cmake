# The Debian package: the four programs, their manual pages, the README and
# docs, the copyright file and the changelog.
#   cpack -G DEB   (in the build folder; scripts/build-package.sh does it all)
include(GNUInstallDirs)
include(${CMAKE_CURRENT_LIST_DIR}/manual-pages.cmake)

# Debian wants manual pages and the changelog compressed, without a time
# stamp in the gzip header, so that the package is the same at every build.
set(compressed "")
foreach(page ${VARDEL_MAN_PAGES})
  add_custom_command(OUTPUT ${VARDEL_MAN_DIR}/${page}.gz
    COMMAND gzip -9nkf ${page}
    WORKING_DIRECTORY ${VARDEL_MAN_DIR}
    DEPENDS ${VARDEL_MAN_DIR}/${page} VERBATIM)
  list(APPEND compressed ${VARDEL_MAN_DIR}/${page}.gz)
  install(FILES ${VARDEL_MAN_DIR}/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
set(VARDEL_PACKAGE_DIR ${CMAKE_BINARY_DIR}/package)
configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog ${VARDEL_PACKAGE_DIR}/changelog COPYONLY)
add_custom_command(OUTPUT ${VARDEL_PACKAGE_DIR}/changelog.gz
  COMMAND gzip -9nkf changelog
  WORKING_DIRECTORY ${VARDEL_PACKAGE_DIR}
  DEPENDS ${VARDEL_PACKAGE_DIR}/changelog VERBATIM)
add_custom_target(vardel_package_files ALL DEPENDS ${compressed} ${VARDEL_PACKAGE_DIR}/changelog.gz)

set(doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/vardel)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/packaging/copyright
              ${VARDEL_PACKAGE_DIR}/changelog.gz
        DESTINATION ${doc})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/ DESTINATION ${doc} FILES_MATCHING PATTERN "*.md")

# The package is for the target's Debian architecture: dpkg-architecture's
# name for the target's GNU triplet. The project's toolchain files set the
# triplet (VARDEL_TRIPLET); any other compiler is asked for its target
# (CMAKE_CXX_COMPILER_TARGET where the toolchain gives one, else
# -dumpmachine), so that a board's own toolchain file needs nothing of this
# project. Where no Debian architecture can be had, or a cross build has no
# objdump to read the programs' libc6 dependency with, the build goes on
# without the package targets and says why in one line.
find_program(VARDEL_DPKG_ARCHITECTURE dpkg-architecture NO_CMAKE_FIND_ROOT_PATH
  DOC "dpkg-architecture (dpkg-dev), which names the package's Debian architecture")
function(vardel_debian_architecture result reason)
  set(${result} "" PARENT_SCOPE)
  if(VARDEL_TRIPLET)
    set(triplet ${VARDEL_TRIPLET})
  elseif(CMAKE_CXX_COMPILER_TARGET)
    set(triplet ${CMAKE_CXX_COMPILER_TARGET})
  else()
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -dumpmachine
      OUTPUT_VARIABLE triplet OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE status)
    if(NOT status EQUAL 0 OR NOT triplet MATCHES "^[A-Za-z0-9_.-]+$")
      set(${reason} "${CMAKE_CXX_COMPILER} -dumpmachine names no target" PARENT_SCOPE)
      return()
    endif()
  endif()
  if(NOT VARDEL_DPKG_ARCHITECTURE)
    set(${reason} "no dpkg-architecture (dpkg-dev) to name the Debian architecture of ${triplet}" PARENT_SCOPE)
    return()
  endif()
  # -f: the triplet decides, not a DEB_HOST_ARCH left in the environment.
  # The warnings (a triplet with a vendor, a CC of another target) say
  # nothing about the answer.
  execute_process(COMMAND ${VARDEL_DPKG_ARCHITECTURE} -f -t ${triplet} -qDEB_HOST_ARCH
    OUTPUT_VARIABLE architecture OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR NOT architecture MATCHES "^[a-z0-9][a-z0-9-]*$")
    set(${reason} "dpkg-architecture knows no Debian architecture for ${triplet}" PARENT_SCOPE)
    return()
  endif()
  set(${result} ${architecture} PARENT_SCOPE)
endfunction()
vardel_debian_architecture(VARDEL_DEBIAN_ARCHITECTURE VARDEL_NO_PACKAGE_REASON)
if(VARDEL_DEBIAN_ARCHITECTURE AND CMAKE_CROSSCOMPILING AND NOT CMAKE_OBJDUMP)
  set(VARDEL_DEBIAN_ARCHITECTURE "")
  set(VARDEL_NO_PACKAGE_REASON "no objdump for the target, to read the programs' libc6 dependency")
endif()
if(NOT VARDEL_DEBIAN_ARCHITECTURE)
  message(STATUS "No Debian package target: ${VARDEL_NO_PACKAGE_REASON}")
  return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vardel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "vardel developers <vardel@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "command-line drivers of the Orphy Portable 2 measurement interface")
# CPack puts the summary above it as the first line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "vardel1 and vardel3 drive the Orphy Portable 2, a serial measurement
interface with four analog sensor inputs and binary inputs and outputs, on
the ports Com1: and Com3:. A calling program starts the driver once per
operation and reads the one line it prints: a reading, a sensor name or a
confirmation.
.
vardel-sim plays the interface on a pseudo-terminal, so that the drivers
can be tried, and calling programs tested, without the hardware.
.
vardel-find lists the serial ports of the machine, asks each one whether
the interface answers, and shows its sensors and the command to use.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${VARDEL_DEBIAN_ARCHITECTURE})
# A cross build's libc6 dependency is read from the programs at packing time
# (debian-libc-depends.cmake), where dpkg-shlibdeps can't compute it.
if(CMAKE_CROSSCOMPILING)
  set(CPACK_VARDEL_OBJDUMP ${CMAKE_OBJDUMP})
  set(CPACK_VARDEL_PROGRAMS ${CMAKE_BINARY_DIR}/vardel1 ${CMAKE_BINARY_DIR}/vardel3
                            ${CMAKE_BINARY_DIR}/vardel-sim ${CMAKE_BINARY_DIR}/vardel-find)
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/debian-libc-depends.cmake)
else()
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
