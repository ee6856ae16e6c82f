# zadized-find, the template tester, in both builds. Included from each branch
# after zadized_core exists.
add_library(zadized_find_core STATIC ${CMAKE_SOURCE_DIR}/tools/find/find_core.cpp)
target_include_directories(zadized_find_core PUBLIC ${CMAKE_SOURCE_DIR}/tools)
target_compile_options(zadized_find_core PRIVATE ${ZADIZED_WARNINGS})
target_link_libraries(zadized_find_core PUBLIC zadized_core)

add_executable(zadized-find ${CMAKE_SOURCE_DIR}/tools/find/zadized_find.cpp)
target_compile_options(zadized-find PRIVATE ${ZADIZED_WARNINGS})
target_compile_definitions(zadized-find PRIVATE ZADIZED_FIND_VERSION="${PROJECT_VERSION}")
# The command line is parsed by CLI11 (libcli11-dev, header-only). Its
# headers sit among the host's in /usr/include, which the Windows build must
# not search, so that build sees them through a folder holding only them.
find_path(ZADIZED_CLI11_INCLUDE CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(cli11_dir ${CMAKE_BINARY_DIR}/cli11)
file(MAKE_DIRECTORY ${cli11_dir})
file(CREATE_LINK ${ZADIZED_CLI11_INCLUDE}/CLI ${cli11_dir}/CLI SYMBOLIC)
target_include_directories(zadized-find SYSTEM PRIVATE ${cli11_dir})
target_link_libraries(zadized-find PRIVATE zadized_find_core)
if(WIN32)
  target_link_options(zadized-find PRIVATE -static -static-libgcc -static-libstdc++)
else()
  # The tool's logic against the library's search, and the program itself on
  # small files the test writes.
  add_executable(zadized_find_tests ${CMAKE_SOURCE_DIR}/tests/find/zadized_find_test.cpp)
  target_include_directories(zadized_find_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR}/include)
  target_compile_options(zadized_find_tests PRIVATE ${ZADIZED_WARNINGS})
  target_compile_definitions(zadized_find_tests PRIVATE ZADIZED_FIND_EXE="$<TARGET_FILE:zadized-find>")
  target_link_libraries(zadized_find_tests PRIVATE zadized_find_core GTest::gtest_main)
  add_dependencies(zadized_find_tests zadized-find)
  gtest_discover_tests(zadized_find_tests DISCOVERY_TIMEOUT 60)
endif()
