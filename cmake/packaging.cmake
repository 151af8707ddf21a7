# Packages, made with cpack from a build configured for the target prefix:
#  - Debian (cpack -G DEB, with -DCMAKE_INSTALL_PREFIX=/usr): libquiblink2 (the shared
#    library), libquiblink-dev (headers, the .so link, pkg-config and CMake files, section 3
#    manual pages), quiblink-tools (quiblink and quiblink-sim with their manual pages);
#  - Windows: scripts/check_dll.sh zips the install trees of both MinGW builds into one zip
#    (see src/platform/win32/build.cmake); cpack is not used there.
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
  return()
endif()

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

# Each package carries the copyright and the changelog in /usr/share/doc/<package>, the
# changelog compressed as Debian keeps it.
set(quib_changelog ${PROJECT_BINARY_DIR}/debian/changelog.gz)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG.md)
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/debian)
file(ARCHIVE_CREATE OUTPUT ${quib_changelog} PATHS ${PROJECT_SOURCE_DIR}/CHANGELOG.md FORMAT raw
     COMPRESSION GZip COMPRESSION_LEVEL 9)
foreach(quib_package Runtime:libquiblink${PROJECT_VERSION_MAJOR} Development:libquiblink-dev
                     Tools:quiblink-tools)
  string(REPLACE ":" ";" quib_package ${quib_package})
  list(GET quib_package 0 quib_component)
  list(GET quib_package 1 quib_name)
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright ${quib_changelog}
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${quib_name} COMPONENT ${quib_component})
endforeach()

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME quiblink-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_TOOLS_DEPENDS Runtime)
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
    "Serial link to operator display terminals: the quiblink tool and the terminal simulator")

include(CPack)
