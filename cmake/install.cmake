# Installs the shared library, its public headers, a CMake package
# (find_package(quiblink) gives quiblink::quiblink) and a pkg-config file.
# Included from src/CMakeLists.txt, where the quiblink target is defined.
include(CMakePackageConfigHelpers)

set(QUIB_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/quiblink)

# The same name inside this build as for consumers of an installed copy.
add_library(quiblink::quiblink ALIAS quiblink)
set_target_properties(quiblink PROPERTIES EXPORT_NAME quiblink)

install(TARGETS quiblink EXPORT quiblinkTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime NAMELINK_COMPONENT Development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/quiblink
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT Development
  FILES_MATCHING PATTERN "*.h" PATTERN "*.hpp")
install(DIRECTORY ${QUIB_GENERATED_INCLUDE}/quiblink
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT Development
  FILES_MATCHING PATTERN "*.h")
install(EXPORT quiblinkTargets NAMESPACE quiblink:: DESTINATION ${QUIB_CMAKE_DIR}
  COMPONENT Development)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/quiblinkConfig.cmake.in
  ${PROJECT_BINARY_DIR}/quiblinkConfig.cmake INSTALL_DESTINATION ${QUIB_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/quiblinkConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/quiblinkConfig.cmake
              ${PROJECT_BINARY_DIR}/quiblinkConfigVersion.cmake
  DESTINATION ${QUIB_CMAKE_DIR} COMPONENT Development)

# The pkg-config file finds its prefix from where it lies, so the installed
# tree can be moved (or installed with cmake --install --prefix).
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(QUIB_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(QUIB_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
else()
  file(RELATIVE_PATH QUIB_PC_UP "/root/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/root")
  string(REGEX REPLACE "/$" "" QUIB_PC_UP "${QUIB_PC_UP}")
  set(QUIB_PC_PREFIX "\${pcfiledir}/${QUIB_PC_UP}")
  set(QUIB_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(QUIB_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
else()
  set(QUIB_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/quiblink.pc.in ${PROJECT_BINARY_DIR}/quiblink.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/quiblink.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT Development)
