# The manual pages, roff from man/ with the project's version filled in:
# ${VARDEL_MAN_DIR}/vardel1.1, vardel3.1 (which leads to vardel1.1) and
# vardel-sim.1, vardel-find.1.
set(VARDEL_MAN_DIR ${CMAKE_BINARY_DIR}/man)
set(VARDEL_MAN_PAGES vardel1.1 vardel3.1 vardel-sim.1 vardel-find.1)
configure_file(${CMAKE_SOURCE_DIR}/man/vardel1.1.in ${VARDEL_MAN_DIR}/vardel1.1 @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/man/vardel3.1 ${VARDEL_MAN_DIR}/vardel3.1 COPYONLY)
configure_file(${CMAKE_SOURCE_DIR}/man/vardel-sim.1.in ${VARDEL_MAN_DIR}/vardel-sim.1 @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/man/vardel-find.1.in ${VARDEL_MAN_DIR}/vardel-find.1 @ONLY)
