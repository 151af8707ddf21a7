# quiblink.dll for 32-bit Windows (cross-built with cmake/mingw-i686.cmake).
# The export table comes from exports/quiblink.def alone: every export under
# its decorated stdcall name (_QUIB_Open@8) and under no other name. The
# runtime is linked in statically, so the DLL needs only system DLLs.
quib_glob(QUIB_WIN32_SOURCES platform/win32)
set(QUIB_DEF_FILE ${CMAKE_CURRENT_SOURCE_DIR}/exports/quiblink.def)

add_library(quiblink SHARED ${QUIB_LOGIC_SOURCES} ${QUIB_WIN32_SOURCES} ${QUIB_DEF_FILE})
target_include_directories(quiblink
  PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}
  PUBLIC ${PROJECT_SOURCE_DIR}/include ${QUIB_GENERATED_INCLUDE})
# The linker's own import library goes aside; the one to use is made below.
set_target_properties(quiblink PROPERTIES PREFIX "" OUTPUT_NAME quiblink
                      ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/linker-implib)
target_link_libraries(quiblink PRIVATE kernel32 user32)
target_link_options(quiblink PRIVATE -static-libgcc -static-libstdc++ -static -Wl,--no-undefined
                    -Wl,--disable-auto-import)

# The import library that the linker would write from the .def names its
# symbols after the exported names (__QUIB_Open@8), which no C caller uses.
# This one maps the symbol a caller of the header references (_QUIB_Open@8,
# written QUIB_Open@8 in a .def) onto the exported name of the same spelling.
file(STRINGS ${QUIB_DEF_FILE} quib_def_lines REGEX "^ *_[A-Za-z0-9_]+@[0-9]+ *=")
set(quib_implib_def "LIBRARY quiblink.dll\nEXPORTS\n")
foreach(line ${quib_def_lines})
  string(REGEX REPLACE "^ *_([A-Za-z0-9_]+@[0-9]+) *=.*$" "\\1" name "${line}")
  string(APPEND quib_implib_def "  ${name} == _${name}\n")
endforeach()
set(QUIB_IMPLIB_DEF ${CMAKE_CURRENT_BINARY_DIR}/quiblink-import.def)
file(WRITE ${QUIB_IMPLIB_DEF}.in "${quib_implib_def}")
configure_file(${QUIB_IMPLIB_DEF}.in ${QUIB_IMPLIB_DEF} COPYONLY)

set(QUIB_IMPLIB ${CMAKE_CURRENT_BINARY_DIR}/libquiblink.dll.a)
add_custom_command(
  OUTPUT ${QUIB_IMPLIB}
  COMMAND ${CMAKE_DLLTOOL} -d ${QUIB_IMPLIB_DEF} -D quiblink.dll -l ${QUIB_IMPLIB}
  DEPENDS ${QUIB_IMPLIB_DEF}
  COMMENT "Import library libquiblink.dll.a")
add_custom_target(quiblink_implib ALL DEPENDS ${QUIB_IMPLIB})

# What a C program links with: the DLL through that import library.
add_library(quiblink_import INTERFACE)
add_dependencies(quiblink_import quiblink_implib quiblink)
target_include_directories(quiblink_import INTERFACE ${PROJECT_SOURCE_DIR}/include
                                                     ${QUIB_GENERATED_INCLUDE})
target_link_libraries(quiblink_import INTERFACE ${QUIB_IMPLIB})

# The Windows test programs, run under wine by scripts/check_dll.sh.
if(QUIBLINK_TESTS AND EXISTS ${PROJECT_SOURCE_DIR}/tests/win32/build.cmake)
  include(${PROJECT_SOURCE_DIR}/tests/win32/build.cmake)
endif()

# What the Windows zip holds (cpack -G ZIP): the DLL, the MinGW import library, the module
# definition file (for making an import library with other tools), the headers and the
# documentation.
install(FILES $<TARGET_FILE:quiblink> DESTINATION bin)
install(FILES ${QUIB_IMPLIB} ${QUIB_DEF_FILE} DESTINATION lib)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/quiblink ${QUIB_GENERATED_INCLUDE}/quiblink
  DESTINATION include FILES_MATCHING PATTERN "*.h" PATTERN "*.hpp")
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md
              ${PROJECT_SOURCE_DIR}/docs/windows.md
  DESTINATION doc)
