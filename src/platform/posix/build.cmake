# libquiblink.so: the library's logic over the POSIX backend and the network
# device's shared codec (platform/net), with its SONAME from the project's
# major version, and its installation.
quib_glob(QUIB_POSIX_SOURCES platform/posix platform/net)
find_package(Threads REQUIRED)
add_library(quiblink SHARED ${QUIB_LOGIC_SOURCES} ${QUIB_POSIX_SOURCES})
target_include_directories(quiblink
  PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}
  PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
         $<BUILD_INTERFACE:${QUIB_GENERATED_INCLUDE}>
         $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
target_link_libraries(quiblink PRIVATE Threads::Threads)
set_target_properties(quiblink PROPERTIES VERSION ${PROJECT_VERSION}
                                        SOVERSION ${PROJECT_VERSION_MAJOR})
target_link_options(quiblink PRIVATE -Wl,--no-undefined)
include(${PROJECT_SOURCE_DIR}/cmake/install.cmake OPTIONAL)
