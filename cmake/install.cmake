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

# The pkg-config file names the prefix the tree is installed into and derives every other
# path from it (${prefix}/include, ...), as pkg-config users expect: made when the install
# runs, so `cmake --install --prefix` and cpack's staging give it the real prefix.
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(QUIB_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(QUIB_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
set(QUIB_PC_FILE ${CMAKE_INSTALL_LIBDIR}/pkgconfig/quiblink.pc)
install(CODE "
  set(QUIB_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(QUIB_PC_LIBDIR [[${QUIB_PC_LIBDIR}]])
  set(QUIB_PC_INCLUDEDIR [[${QUIB_PC_INCLUDEDIR}]])
  set(PROJECT_VERSION ${PROJECT_VERSION})
  set(quib_pc \"${QUIB_PC_FILE}\")
  if(NOT IS_ABSOLUTE \"\${quib_pc}\")
    set(quib_pc \"\${CMAKE_INSTALL_PREFIX}/\${quib_pc}\")
  endif()
  message(STATUS \"Installing: \$ENV{DESTDIR}\${quib_pc}\")
  configure_file(\"${PROJECT_SOURCE_DIR}/cmake/quiblink.pc.in\" \"\$ENV{DESTDIR}\${quib_pc}\" @ONLY)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\$ENV{DESTDIR}\${quib_pc}\")
" COMPONENT Development)
