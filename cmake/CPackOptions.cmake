# Read by cpack once per generator. The tarball installs the Tarball
# component (LICENSE) as well as everything a plain install gives.
if(CPACK_GENERATOR STREQUAL "TGZ")
  list(SUBLIST CPACK_INSTALL_CMAKE_PROJECTS 0 2 BUILD_AND_NAME)
  list(APPEND CPACK_INSTALL_CMAKE_PROJECTS ${BUILD_AND_NAME} Tarball /)
endif()
