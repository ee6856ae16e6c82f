# What a host developer receives: the DLL's version resource, an import
# library that C and C++ hosts link against, the release zip, and a test that
# builds hosts from the zip alone. Included from the WIN32 branch.
enable_language(C RC)

target_sources(zadized PRIVATE src/exports/zadized.rc)

foreach(tool nm dlltool strip)
  string(TOUPPER ${tool} upper)
  find_program(ZADIZED_${upper} NAMES ${ZADIZED_TOOL_PREFIX}${tool} REQUIRED)
endforeach()

# Replaces the linker's import library, which knows only the plain names and
# so cannot satisfy a stdcall declaration (_SearchImage@28). x64 names carry
# no decoration, so there the linker's own serves.
if(ZADIZED_ARCH STREQUAL x86)
add_custom_command(TARGET zadized POST_BUILD
                   COMMAND ${CMAKE_COMMAND} -DNM=${ZADIZED_NM} -DDLLTOOL=${ZADIZED_DLLTOOL}
                           -DDEF=${CMAKE_SOURCE_DIR}/src/exports/zadized.def -DDLL=$<TARGET_FILE:zadized>
                           -DWORK=${CMAKE_BINARY_DIR}/implib -DOUT=$<TARGET_LINKER_FILE:zadized>
                           -P ${CMAKE_SOURCE_DIR}/cmake/zadized_implib.cmake
                   VERBATIM)
endif()

set(ZADIZED_DIST_NAME zadized-${PROJECT_VERSION})
set(ZADIZED_DIST_ROOT ${CMAKE_BINARY_DIR}/dist)
set(ZADIZED_DIST_ZIP ${CMAKE_BINARY_DIR}/${ZADIZED_DIST_NAME}.zip)
set(dist_dir ${ZADIZED_DIST_ROOT}/${ZADIZED_DIST_NAME})
add_custom_command(
  OUTPUT ${ZADIZED_DIST_ZIP}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${ZADIZED_DIST_ROOT}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${dist_dir}
  COMMAND ${ZADIZED_STRIP} --strip-all -o ${dist_dir}/zadized.dll $<TARGET_FILE:zadized>
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/include/zadized.h
          ${CMAKE_SOURCE_DIR}/src/exports/zadized.def $<TARGET_LINKER_FILE:zadized> ${dist_dir}
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/docs/guide.md ${dist_dir}/guide.md
  COMMAND ${CMAKE_COMMAND} -E rm -f ${ZADIZED_DIST_ZIP}
  COMMAND ${CMAKE_COMMAND} -E chdir ${ZADIZED_DIST_ROOT} ${CMAKE_COMMAND} -E tar cf ${ZADIZED_DIST_ZIP}
          --format=zip ${ZADIZED_DIST_NAME}
  DEPENDS zadized $<TARGET_FILE:zadized> ${CMAKE_SOURCE_DIR}/include/zadized.h
          ${CMAKE_SOURCE_DIR}/src/exports/zadized.def ${CMAKE_SOURCE_DIR}/docs/guide.md
  COMMENT "Packing ${ZADIZED_DIST_NAME}.zip"
  VERBATIM)
add_custom_target(dist ALL DEPENDS ${ZADIZED_DIST_ZIP})

# Hosts built from the unpacked zip alone, with the same compilers a user has,
# then run next to the DLL from the zip.
add_test(NAME dist.${ZADIZED_ARCH}.hosts
         COMMAND ${CMAKE_SOURCE_DIR}/tests/dist/run_hosts.sh ${ZADIZED_DIST_ZIP} ${ZADIZED_DIST_NAME}
                 ${CMAKE_BINARY_DIR}/dist-test ${CMAKE_C_COMPILER} ${CMAKE_CXX_COMPILER} ${ZADIZED_TEST_DATA})
set_tests_properties(dist.${ZADIZED_ARCH}.hosts PROPERTIES TIMEOUT 600 RUN_SERIAL TRUE)
