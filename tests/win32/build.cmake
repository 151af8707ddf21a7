# Windows test programs, cross-built with the DLL and run under wine by
# scripts/check_dll.sh.
set(QUIB_WINTEST_DIR ${PROJECT_SOURCE_DIR}/tests/win32)
set(QUIB_WINTEST_LINK -static-libgcc -static-libstdc++ -static)

# The backend alone, linked in directly.
set(quib_backend_sources ${QUIB_WIN32_SOURCES})
list(FILTER quib_backend_sources EXCLUDE REGEX "/entry\\.cpp$")
add_executable(quiblink-platform-test ${QUIB_WINTEST_DIR}/platform_test.cpp
               ${QUIB_WINTEST_DIR}/check.cpp ${quib_backend_sources})
target_include_directories(quiblink-platform-test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(quiblink-platform-test PRIVATE user32 winmm ws2_32)
target_link_options(quiblink-platform-test PRIVATE ${QUIB_WINTEST_LINK})

# The DLL as an application meets it: loaded at run time, every export found
# by its decorated name.
add_executable(quiblink-dll-test
  ${QUIB_WINTEST_DIR}/dll_test_main.cpp ${QUIB_WINTEST_DIR}/dll_basic_test.cpp
  ${QUIB_WINTEST_DIR}/dll_exchange_test.cpp ${QUIB_WINTEST_DIR}/dll_fixture.cpp
  ${QUIB_WINTEST_DIR}/dll_calls.cpp ${QUIB_WINTEST_DIR}/check.cpp)
target_include_directories(quiblink-dll-test PRIVATE ${PROJECT_SOURCE_DIR}/include
                                                   ${QUIB_GENERATED_INCLUDE} ${PROJECT_SOURCE_DIR}/src)
target_link_options(quiblink-dll-test PRIVATE ${QUIB_WINTEST_LINK})
add_dependencies(quiblink-dll-test quiblink)

# A C program that declares the functions through the header and links
# against the import library.
add_executable(quiblink-link-check ${QUIB_WINTEST_DIR}/link_check.c)
target_link_libraries(quiblink-link-check PRIVATE quiblink_import)
target_link_options(quiblink-link-check PRIVATE -static-libgcc)

# The C++ layer through the import library, with the headers held to the
# warnings of the library itself.
add_executable(quiblink-cpp-test ${QUIB_WINTEST_DIR}/cpp_layer_test.cpp ${QUIB_WINTEST_DIR}/check.cpp)
target_link_libraries(quiblink-cpp-test PRIVATE quiblink_import)
target_compile_options(quiblink-cpp-test PRIVATE -Wall -Wextra -Werror -Wpedantic)
target_link_options(quiblink-cpp-test PRIVATE ${QUIB_WINTEST_LINK})

# The network device through the DLL against ser2net (scripts/check_dll.sh
# starts the servers).
add_executable(quiblink-net-test ${QUIB_WINTEST_DIR}/net_test.cpp ${QUIB_WINTEST_DIR}/dll_fixture.cpp
               ${QUIB_WINTEST_DIR}/dll_calls.cpp ${QUIB_WINTEST_DIR}/check.cpp)
target_include_directories(quiblink-net-test PRIVATE ${PROJECT_SOURCE_DIR}/include
                                                   ${QUIB_GENERATED_INCLUDE} ${PROJECT_SOURCE_DIR}/src)
target_link_options(quiblink-net-test PRIVATE ${QUIB_WINTEST_LINK})
add_dependencies(quiblink-net-test quiblink)
