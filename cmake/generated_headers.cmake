# Public headers written at configure time into the build tree's include
# folder (QUIB_GENERATED_INCLUDE), installed beside the others:
#  - quiblink_codes.h and quiblink_ext_codes.h: the RC_ defines, from the rows
#    of include/quiblink/quiblink_results.h, so no value is typed twice;
#  - quiblink_version.h: the version macros, from project(VERSION), which
#    also gives the SONAME.
set(QUIB_GENERATED_INCLUDE ${PROJECT_BINARY_DIR}/include)
set(quib_results ${PROJECT_SOURCE_DIR}/include/quiblink/quiblink_results.h)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${quib_results})
file(READ ${quib_results} quib_table)

# quib_write_codes(list file guard title): one #define per X(name, value, "meaning") row of the
# macro named list.
function(quib_write_codes list file guard title)
  string(REGEX MATCH "#define ${list}\\(X\\)[^\n]*\n([^\n]*\\\\\n)*[^\n]*\n" block "${quib_table}")
  if(NOT block)
    message(FATAL_ERROR "no ${list} in ${quib_results}")
  endif()
  string(REGEX MATCHALL "X\\(RC_[A-Z_]+, -?[0-9]+, \"[^\"]*\"\\)" rows "${block}")
  set(text "/**\n * @file ${file}\n * @brief ${title}, generated from the table of quiblink_results.h by the")
  string(APPEND text " build;\n * edit that table instead.\n */\n")
  string(APPEND text "#ifndef ${guard}\n#define ${guard}\n\n")
  foreach(row ${rows})
    string(REGEX REPLACE "X\\((RC_[A-Z_]+), (-?[0-9]+), \"([^\"]*)\"\\)" "\\1;\\2;\\3" parts "${row}")
    list(GET parts 0 name)
    list(GET parts 1 value)
    list(GET parts 2 meaning)
    if(value MATCHES "^-")
      set(value "(${value})")
    endif()
    string(APPEND text "#define ${name} ${value} /**< ${meaning} */\n")
  endforeach()
  string(APPEND text "\n#endif\n")
  file(CONFIGURE OUTPUT ${QUIB_GENERATED_INCLUDE}/quiblink/${file} CONTENT "${text}" @ONLY)
endfunction()

quib_write_codes(QUIB_RESULTS quiblink_codes.h QUIBLINK_QUIBLINK_CODES_H "Result codes")
quib_write_codes(QUIB_EXT_RESULTS quiblink_ext_codes.h QUIBLINK_QUIBLINK_EXT_CODES_H
                 "Extension result codes")
configure_file(${PROJECT_SOURCE_DIR}/cmake/quiblink_version.h.in
               ${QUIB_GENERATED_INCLUDE}/quiblink/quiblink_version.h @ONLY)
