# What a host developer receives: the DLL's version resource, import libraries
# for mingw-w64 and for Microsoft's linker, this architecture's part of the
# release zip, and the tests that build and run hosts from it. Included from
# the WIN32 branch, which sets ZADIZED_ARCH and ZADIZED_TOOL_PREFIX.
#
# The zip holds both architectures, so the x64 tree packs it from its own
# part and the x86 tree's (ZADIZED_X86_BUILD_DIR, by default the sibling
# build/win32 beside build/win64): build the x86 tree first.
enable_language(C RC)

target_sources(zadized PRIVATE src/exports/zadized.rc)

foreach(tool nm dlltool strip)
  string(TOUPPER ${tool} upper)
  find_program(ZADIZED_${upper} NAMES ${ZADIZED_TOOL_PREFIX}${tool} REQUIRED)
endforeach()
# LLVM's dlltool writes the short import format that Microsoft's linker and
# lld-link read (Debian's llvm package).
find_program(ZADIZED_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 REQUIRED)

# zadized.lib for Microsoft's linker; on x86 also a libzadized.dll.a that
# replaces the linker's, which knows only the plain names and so cannot
# satisfy a stdcall declaration (_SearchImage@28). x64 names carry no
# decoration, so there the linker's own serves mingw. Runs before the Release
# build strips the DLL, while its symbols still give the argument sizes.
set(ZADIZED_MSVC_IMPLIB ${CMAKE_BINARY_DIR}/zadized.lib)
add_custom_command(TARGET zadized POST_BUILD
                   COMMAND ${CMAKE_COMMAND} -DARCH=${ZADIZED_ARCH} -DNM=${ZADIZED_NM} -DDLLTOOL=${ZADIZED_DLLTOOL}
                           -DLLVM_DLLTOOL=${ZADIZED_LLVM_DLLTOOL} -DDEF=${CMAKE_SOURCE_DIR}/src/exports/zadized.def
                           -DDLL=$<TARGET_FILE:zadized> -DWORK=${CMAKE_BINARY_DIR}/implib
                           -DMINGW_OUT=$<TARGET_LINKER_FILE:zadized> -DMSVC_OUT=${ZADIZED_MSVC_IMPLIB}
                           -P ${CMAKE_SOURCE_DIR}/cmake/zadized_implib.cmake
                   VERBATIM)

# This architecture's folder of the zip, stripped.
set(ZADIZED_DIST_PART ${CMAKE_BINARY_DIR}/dist-${ZADIZED_ARCH})
set(part_files zadized.dll zadized.lib libzadized.dll.a zadized.def zadized-find.exe)
list(TRANSFORM part_files PREPEND ${ZADIZED_DIST_PART}/ OUTPUT_VARIABLE part_outputs)
add_custom_command(
  OUTPUT ${part_outputs}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${ZADIZED_DIST_PART}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ZADIZED_DIST_PART}
  COMMAND ${ZADIZED_STRIP} --strip-all -o ${ZADIZED_DIST_PART}/zadized.dll $<TARGET_FILE:zadized>
  COMMAND ${ZADIZED_STRIP} --strip-all -o ${ZADIZED_DIST_PART}/zadized-find.exe $<TARGET_FILE:zadized-find>
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_LINKER_FILE:zadized> ${ZADIZED_MSVC_IMPLIB}
          ${CMAKE_SOURCE_DIR}/src/exports/zadized.def ${ZADIZED_DIST_PART}
  DEPENDS zadized zadized-find $<TARGET_FILE:zadized> $<TARGET_FILE:zadized-find>
          ${CMAKE_SOURCE_DIR}/src/exports/zadized.def
  COMMENT "Staging the ${ZADIZED_ARCH} part of the release zip"
  VERBATIM)
add_custom_target(dist_${ZADIZED_ARCH} ALL DEPENDS ${part_outputs})

# Node.js for Windows of this architecture drives the DLL through koffi
# (tools/setup.sh installs both from npm into this folder).
set(ZADIZED_NODE_HOSTS_DIR "/opt/zadized-deps/node-hosts" CACHE PATH "Where tools/setup.sh installed tests/node's npm packages")
add_test(NAME node.${ZADIZED_ARCH}
         COMMAND ${CMAKE_SOURCE_DIR}/tests/node/run.sh ${ZADIZED_NODE_HOSTS_DIR} ${ZADIZED_ARCH} $<TARGET_FILE:zadized>
                 ${CMAKE_BINARY_DIR}/node-test)
set_tests_properties(node.${ZADIZED_ARCH} PROPERTIES TIMEOUT 600 RUN_SERIAL TRUE)

if(ZADIZED_ARCH STREQUAL x64)
  get_filename_component(x86_default ${CMAKE_BINARY_DIR}/../win32 ABSOLUTE)
  set(ZADIZED_X86_BUILD_DIR ${x86_default} CACHE PATH
      "The x86 build tree whose part goes into the release zip; empty: this tree packs no zip")
  if(ZADIZED_X86_BUILD_DIR)
    set(ZADIZED_DIST_NAME zadized-${PROJECT_VERSION})
    set(ZADIZED_DIST_ZIP ${CMAKE_BINARY_DIR}/${ZADIZED_DIST_NAME}.zip)
    # Always run: the other tree's files are not this tree's to track; the
    # script packs again only when something is newer than the zip.
    add_custom_target(
      dist ALL
      COMMAND ${CMAKE_COMMAND} -DNAME=${ZADIZED_DIST_NAME} -DZIP=${ZADIZED_DIST_ZIP}
              -DX86=${ZADIZED_X86_BUILD_DIR}/dist-x86 -DX64=${ZADIZED_DIST_PART}
              -DHEADER=${CMAKE_SOURCE_DIR}/include/zadized.h -DGUIDE=${CMAKE_SOURCE_DIR}/docs/guide.md
              -DIMAGES=${CMAKE_SOURCE_DIR}/docs/images
              "-DFILES=${part_files}" -DWORK=${CMAKE_BINARY_DIR}/dist -P ${CMAKE_SOURCE_DIR}/cmake/zadized_zip.cmake
      DEPENDS dist_x64
      VERBATIM)

    # Hosts built from the unpacked zip alone, with the compilers a user has,
    # then run next to the DLL from the zip: one test per architecture.
    foreach(arch x86 x64)
      add_test(NAME dist.${arch}
               COMMAND ${CMAKE_SOURCE_DIR}/tests/dist/run_hosts.sh ${ZADIZED_DIST_ZIP} ${ZADIZED_DIST_NAME} ${arch}
                       ${CMAKE_BINARY_DIR}/dist-test-${arch} ${ZADIZED_TEST_DATA})
      set_tests_properties(dist.${arch} PROPERTIES TIMEOUT 600 RUN_SERIAL TRUE)
    endforeach()
  endif()
endif()
