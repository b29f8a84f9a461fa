# GoogleTest for the target of a cross build. Debian's GoogleTest libraries
# are built for this machine only: build it for the target from the sources
# that come with them, without our warnings. Gives GTest::gtest and
# GTest::gtest_main, as find_package(GTest) does natively.
set(VARDEL_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${VARDEL_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
set_property(TARGET gtest gtest_main PROPERTY COMPILE_OPTIONS "")
# MinGW-w64's win32 thread model has no std::mutex in GCC 12, on which
# GoogleTest's Notification is built: a Windows event stands in for it,
# included before GoogleTest's own headers.
if(MINGW)
  set(notification ${PROJECT_SOURCE_DIR}/tests/windows/gtest_notification_win32.hpp)
  target_compile_definitions(gtest PUBLIC GTEST_HAS_NOTIFICATION_=1)
  target_compile_options(gtest PUBLIC -include ${notification})
endif()
