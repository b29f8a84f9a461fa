# Packs what `cmake --install` puts in place into BUILD_DIR/NAME.zip, the same
# bytes at every build of one commit:
#   cmake -DBUILD_DIR=<build> -DSOURCE_DIR=<source> -DNAME=<zip name> -P windows-zip.cmake
# Every file gets the time of the last commit (SOURCE_DATE_EPOCH, else read
# from git); the names go in sorted; zip -X leaves out its extra fields (the
# builder's user and group, access times); the DOS times are taken in UTC.
set(epoch "$ENV{SOURCE_DATE_EPOCH}")
if(epoch STREQUAL "")
  execute_process(COMMAND git -C ${SOURCE_DIR} log -1 --format=%ct
    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR epoch STREQUAL "")
    message(FATAL_ERROR "no SOURCE_DATE_EPOCH and no git history in ${SOURCE_DIR}")
  endif()
endif()

set(stage ${BUILD_DIR}/zip-stage)
set(zip ${BUILD_DIR}/${NAME}.zip)
file(REMOVE_RECURSE ${stage})
file(REMOVE ${zip})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${stage}/${NAME}
  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)

file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${stage} ${stage}/*)
list(SORT files)
execute_process(COMMAND touch -h -d @${epoch} ${files} WORKING_DIRECTORY ${stage}
  COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC zip -X -D -q -9 ${zip} ${files}
  WORKING_DIRECTORY ${stage} COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE_RECURSE ${stage})
