# GoogleTest for a cross build: compiled from the sources Debian's googletest package
# installs (/usr/src/googletest), since no Windows build of it is packaged. Provides the
# same GTest:: targets as find_package(GTest).
set(VISTREL_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
if(NOT EXISTS ${VISTREL_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${VISTREL_GOOGLETEST_SOURCE} (Debian package googletest)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${VISTREL_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
# Its own CMake files define the GTest:: names.
foreach(target GTest::gtest GTest::gtest_main GTest::gmock GTest::gmock_main)
  if(NOT TARGET ${target})
    message(FATAL_ERROR "GoogleTest in ${VISTREL_GOOGLETEST_SOURCE} does not define ${target}")
  endif()
endforeach()
