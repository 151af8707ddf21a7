# Packages, made with cpack from a build configured for the target prefix:
#  - Debian (cpack -G DEB, with -DCMAKE_INSTALL_PREFIX=/usr): libquiblink2 (the shared
#    library), libquiblink-dev (headers, the .so link, pkg-config and CMake files, section 3
#    manual pages), quiblink-tools (quiblink and quiblink-sim with their manual pages);
#  - Windows (cpack -G ZIP in the MinGW build): the DLL, its import library, the headers and
#    the documentation in one zip.
# Install rules without a component of their own (the tools') belong to "Tools".
set(CPACK_PACKAGE_NAME quiblink)
set(CPACK_PACKAGE_VENDOR "QUIBLINK")
set(CPACK_PACKAGE_CONTACT "QUIBLINK maintainers <quiblink@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Serial link to operator display terminals")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME quiblink-${PROJECT_VERSION}-win32)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL Runtime Development Tools)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # quiblink links the library of this build, which no installed package provides yet; the
  # dependency on it comes from the component dependencies below.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/src)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

  set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libquiblink${PROJECT_VERSION_MAJOR})
  set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
      "Serial link to operator display terminals: the shared library")

  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libquiblink-dev)
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
  set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS Runtime)
  set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
      "Serial link to operator display terminals: headers, pkg-config and CMake files, manual")

  set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME quiblink-tools)
  set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
  set(CPACK_COMPONENT_TOOLS_DEPENDS Runtime)
  set(CPACK_COMPONENT_TOOLS_DESCRIPTION
      "Serial link to operator display terminals: the quiblink tool and the terminal simulator")
endif()

include(CPack)
