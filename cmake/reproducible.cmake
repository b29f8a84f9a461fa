# What makes a release build the same, byte for byte, whichever folder it is
# made in: scripts/build-package.sh and scripts/build-windows.sh configure with
#   -DCMAKE_PROJECT_INCLUDE=<source>/cmake/reproducible.cmake
# (read right after project()) and export SOURCE_DATE_EPOCH, the time of the
# last commit, for the times inside the packages.

# The source and build folders are mapped out of the programs: the file names
# of std::source_location and of the debug information, and the compiling
# folder. The build folder's map comes last, so that gcc tries it first when
# it lies inside the source folder.
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.
                    -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)

# No time stamp in the PE header. The programs are stripped by the linker:
# strip run afterwards would write the time of its own run into that header.
if(MINGW)
  add_link_options(LINKER:--no-insert-timestamp LINKER:-s)
endif()
