# Fails when a program loads the shared C++ runtime or its support library,
# or when it doesn't load glibc shared (the locale needs it).
#   cmake -DPROGRAMS="a;b" -P check-runtime.cmake
foreach(program ${PROGRAMS})
  execute_process(COMMAND readelf -d ${program} OUTPUT_VARIABLE dynamic RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "readelf -d ${program} failed")
  endif()
  string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*\\[[^]\n]*\\]" needed "${dynamic}")
  foreach(entry ${needed})
    if(entry MATCHES "libstdc\\+\\+|libgcc_s")
      message(SEND_ERROR "${program} loads a shared C++ runtime: ${entry}")
    endif()
  endforeach()
  if(NOT needed MATCHES "libc\\.so")
    message(SEND_ERROR "${program} doesn't load glibc shared: ${needed}")
  endif()
endforeach()
