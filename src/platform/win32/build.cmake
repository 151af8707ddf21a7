# quiblink.dll for 32-bit Windows (cmake/mingw-i686.cmake) and quiblink64.dll
# for 64-bit Windows (cmake/mingw-x86_64.cmake). exports/quiblink.def is the
# one list of exports. The 32-bit DLL uses it as it is: every export under its
# decorated stdcall name (_QUIB_Open@8) and under no other name. x64 has one
# calling convention and no decoration, so the 64-bit DLL exports the same
# functions under their plain names (QUIB_Open), from a .def derived here.
# The runtime is linked in statically, so either DLL needs only system DLLs.
quib_glob(QUIB_WIN32_SOURCES platform/win32 platform/net)
set(QUIB_DEF_SOURCE ${CMAKE_CURRENT_SOURCE_DIR}/exports/quiblink.def)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${QUIB_DEF_SOURCE})

# The exported names, in the .def's order: _QUIB_Open@8, ...
file(STRINGS ${QUIB_DEF_SOURCE} quib_def_lines REGEX "^ *_[A-Za-z0-9_]+@[0-9]+ *=")
set(QUIB_DECORATED_NAMES)
foreach(line ${quib_def_lines})
  string(REGEX REPLACE "^ *(_[A-Za-z0-9_]+@[0-9]+) *=.*$" "\\1" name "${line}")
  list(APPEND QUIB_DECORATED_NAMES ${name})
endforeach()

# Writes a file only when its text changes, so that nothing rebuilds for
# nothing.
function(quib_write_file path text)
  file(WRITE ${path}.in "${text}")
  configure_file(${path}.in ${path} COPYONLY)
endfunction()

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(QUIB_DLL_BASE quiblink64)
  set(QUIB_DEF_FILE ${CMAKE_CURRENT_BINARY_DIR}/quiblink64.def)
  set(quib_def "LIBRARY quiblink64.dll\nEXPORTS\n")
  foreach(name ${QUIB_DECORATED_NAMES})
    string(REGEX REPLACE "^_([A-Za-z0-9_]+)@[0-9]+$" "\\1" plain "${name}")
    string(APPEND quib_def "  ${plain}\n")
  endforeach()
  quib_write_file(${QUIB_DEF_FILE} "${quib_def}")
  # The import library names its symbols after the exports themselves.
  set(QUIB_IMPLIB_DEF ${QUIB_DEF_FILE})
else()
  set(QUIB_DLL_BASE quiblink)
  set(QUIB_DEF_FILE ${QUIB_DEF_SOURCE})
  # The import library that the linker would write from the .def names its
  # symbols after the exported names (__QUIB_Open@8), which no C caller uses.
  # This one maps the symbol a caller of the header references (_QUIB_Open@8,
  # written QUIB_Open@8 in a .def) onto the exported name of the same
  # spelling.
  set(quib_def "LIBRARY quiblink.dll\nEXPORTS\n")
  foreach(name ${QUIB_DECORATED_NAMES})
    string(SUBSTRING ${name} 1 -1 symbol)
    string(APPEND quib_def "  ${symbol} == ${name}\n")
  endforeach()
  set(QUIB_IMPLIB_DEF ${CMAKE_CURRENT_BINARY_DIR}/quiblink-import.def)
  quib_write_file(${QUIB_IMPLIB_DEF} "${quib_def}")
endif()

add_library(quiblink SHARED ${QUIB_LOGIC_SOURCES} ${QUIB_WIN32_SOURCES} ${QUIB_DEF_FILE})
target_include_directories(quiblink
  PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}
  PUBLIC ${PROJECT_SOURCE_DIR}/include ${QUIB_GENERATED_INCLUDE})
# The linker's own import library goes aside; the one to use is made below.
set_target_properties(quiblink PROPERTIES PREFIX "" OUTPUT_NAME ${QUIB_DLL_BASE}
                      ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/linker-implib)
target_link_libraries(quiblink PRIVATE kernel32 user32 winmm ws2_32)
target_link_options(quiblink PRIVATE -static-libgcc -static-libstdc++ -static -Wl,--no-undefined
                    -Wl,--disable-auto-import)

set(QUIB_IMPLIB ${CMAKE_CURRENT_BINARY_DIR}/lib${QUIB_DLL_BASE}.dll.a)
add_custom_command(
  OUTPUT ${QUIB_IMPLIB}
  COMMAND ${CMAKE_DLLTOOL} -d ${QUIB_IMPLIB_DEF} -D ${QUIB_DLL_BASE}.dll -l ${QUIB_IMPLIB}
  DEPENDS ${QUIB_IMPLIB_DEF}
  COMMENT "Import library lib${QUIB_DLL_BASE}.dll.a")
add_custom_target(quiblink_implib ALL DEPENDS ${QUIB_IMPLIB})

# The import library of Microsoft's linker, made with LLVM's (packages lld and
# llvm): quiblink.lib for quiblink.dll, quiblink64.lib for quiblink64.dll.
# Without object files lld-link writes only the import library of the .def.
# Its members are short import objects, which a /SAFESEH link accepts, and a
# 32-bit member's symbol is the decorated name that an MSVC caller of the
# header references (_QUIB_Open@8), imported under that very name.
find_program(QUIB_LLD_LINK NAMES lld-link lld-link-14 lld-link-15 lld-link-16)
if(QUIB_LLD_LINK)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(quib_msvc_machine x64)
    set(QUIB_MSVC_DEF ${QUIB_DEF_FILE})
  else()
    set(quib_msvc_machine x86)
    set(QUIB_MSVC_DEF ${CMAKE_CURRENT_BINARY_DIR}/quiblink-msvc.def)
    set(quib_def "LIBRARY quiblink.dll\nEXPORTS\n")
    foreach(name ${QUIB_DECORATED_NAMES})
      string(APPEND quib_def "  ${name}\n")
    endforeach()
    quib_write_file(${QUIB_MSVC_DEF} "${quib_def}")
  endif()
  set(QUIB_MSVC_LIB ${CMAKE_CURRENT_BINARY_DIR}/${QUIB_DLL_BASE}.lib)
  add_custom_command(
    OUTPUT ${QUIB_MSVC_LIB}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/msvc-implib
    COMMAND ${QUIB_LLD_LINK} /nologo /def:${QUIB_MSVC_DEF} /machine:${quib_msvc_machine}
            /out:${CMAKE_CURRENT_BINARY_DIR}/msvc-implib/${QUIB_DLL_BASE}.dll
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_BINARY_DIR}/msvc-implib/${QUIB_DLL_BASE}.lib
            ${QUIB_MSVC_LIB}
    DEPENDS ${QUIB_MSVC_DEF}
    COMMENT "Import library ${QUIB_DLL_BASE}.lib for Microsoft's linker")
  add_custom_target(quiblink_msvc_lib ALL DEPENDS ${QUIB_MSVC_LIB})
endif()

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

# What the Windows zip holds: scripts/check_dll.sh installs the 32-bit and the 64-bit build
# into one folder and zips it, so the zip has both DLLs, their MinGW and MSVC import libraries
# and module definitions (for making an import library with other tools), the headers, the C#
# binding, the manual pages and the documents.
install(FILES $<TARGET_FILE:quiblink> DESTINATION bin)
install(FILES ${QUIB_IMPLIB} ${QUIB_DEF_FILE} DESTINATION lib)
if(QUIB_LLD_LINK)
  install(FILES ${QUIB_MSVC_LIB} DESTINATION lib)
endif()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/quiblink ${QUIB_GENERATED_INCLUDE}/quiblink
  DESTINATION include FILES_MATCHING PATTERN "*.h" PATTERN "*.hpp")
install(FILES ${PROJECT_SOURCE_DIR}/bindings/dotnet/Quiblink.cs DESTINATION bindings/dotnet)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md
              ${PROJECT_SOURCE_DIR}/docs/windows.md ${PROJECT_SOURCE_DIR}/docs/network.md
  DESTINATION doc)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/man/man3 ${PROJECT_SOURCE_DIR}/docs/man/man7
  DESTINATION doc/man)
