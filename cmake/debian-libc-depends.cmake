# Read by cpack (CPACK_PROJECT_CONFIG_FILE) for a cross-built package, whose
# programs dpkg-shlibdeps can't read without the target's C library
# installed as a Debian package: states the dependency on libc6 from what
# the programs need, the highest GLIBC_x.y among the symbol versions they
# require (objdump -p of the cross binutils, "Version References"). They may
# need glibc's own libraries only; anything else stops the packing.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

set(highest 0)
foreach(program ${CPACK_VARDEL_PROGRAMS})
  execute_process(COMMAND ${CPACK_VARDEL_OBJDUMP} -p ${program}
    OUTPUT_VARIABLE headers RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${CPACK_VARDEL_OBJDUMP} could not read ${program}")
  endif()
  string(REGEX MATCHALL "NEEDED +[^\n]+" needed "${headers}")
  foreach(entry ${needed})
    string(REGEX REPLACE "^NEEDED +" "" library "${entry}")
    if(NOT library MATCHES "^(libc\\.so\\.6|libm\\.so\\.6|ld-linux[-a-z0-9_]*\\.so\\.[0-9]+)$")
      message(FATAL_ERROR "${program} needs ${library}, which libc6 does not hold")
    endif()
  endforeach()
  string(REGEX MATCHALL "GLIBC_[0-9]+(\\.[0-9]+)+" versions "${headers}")
  foreach(version ${versions})
    string(REPLACE "GLIBC_" "" version ${version})
    if(version VERSION_GREATER highest)
      set(highest ${version})
    endif()
  endforeach()
endforeach()
if(highest VERSION_EQUAL 0)
  message(FATAL_ERROR "no GLIBC symbol version found in ${CPACK_VARDEL_PROGRAMS}")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= ${highest})")
