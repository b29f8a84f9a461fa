# The whole stack with the serial port's platform file replaced by the
# scripted device of tests/support/fake_port.cpp: for the unit tests and the
# fuzz targets that run the driver in process, without a terminal.
function(vardel_add_fake_port_stack name)
  set(sources "")
  foreach(layer ${VARDEL_LAYERS})
    get_target_property(layer_sources vardel_${layer} SOURCES)
    list(APPEND sources ${layer_sources})
  endforeach()
  list(FILTER sources EXCLUDE REGEX "^serial/serial_${VARDEL_PLATFORM}\\.cpp$")
  list(TRANSFORM sources PREPEND "${PROJECT_SOURCE_DIR}/")
  add_library(${name} STATIC ${sources} ${PROJECT_SOURCE_DIR}/tests/support/fake_port.cpp)
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()
