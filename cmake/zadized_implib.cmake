# Script mode: builds the import libraries of one architecture.
#
#   libzadized.dll.a  for mingw-w64 (GNU ld), x86 only: on x64 the linker's own
#                     import library serves, since x64 names carry no decoration.
#   zadized.lib       for Microsoft's linker and lld-link, both architectures.
#
# A stdcall declaration makes an x86 compiler refer to _SearchImage@28 (gcc and
# MSVC-compatible compilers alike; neither counts the hidden record address of
# OpenBitmap and CaptureScreen), while the DLL exports the plain name
# SearchImage (zadized.def). The linker's own import library only knows the
# plain names, so a host would not link. This script reads the decorated names
# from the unstripped DLL's symbol table, pairs them with the names and
# ordinals of zadized.def, and has each dlltool write a library whose decorated
# symbols import the plain names (-k): GNU dlltool in mingw's format, LLVM's
# in the short import format of Microsoft's tools (name type "undecorate").
# zadized.def stays the one list: a new export needs no change here.
#
# Variables: ARCH (x86 or x64), DEF (zadized.def), LLVM_DLLTOOL, MSVC_OUT (the
# .lib to write), WORK (a folder for the decorated .def); for x86 also NM,
# DLLTOOL (GNU), DLL (unstripped) and MINGW_OUT.
foreach(var ARCH DEF LLVM_DLLTOOL MSVC_OUT WORK)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "zadized_implib: ${var} is not set")
  endif()
endforeach()

if(ARCH STREQUAL x64)
  set(def ${DEF})
  set(machine i386:x86-64)
  set(kill "")
else()
  foreach(var NM DLLTOOL DLL MINGW_OUT)
    if(NOT DEFINED ${var})
      message(FATAL_ERROR "zadized_implib: ${var} is not set")
    endif()
  endforeach()
  execute_process(COMMAND ${NM} ${DLL} OUTPUT_VARIABLE symbols RESULT_VARIABLE nm_result)
  if(NOT nm_result EQUAL 0)
    message(FATAL_ERROR "zadized_implib: ${NM} ${DLL} failed")
  endif()

  file(STRINGS ${DEF} def_lines)
  set(decorated "; Generated from zadized.def and the DLL's symbols; do not edit.\nLIBRARY \"zadized.dll\"\nEXPORTS\n")
  set(exports 0)
  foreach(line IN LISTS def_lines)
    if(line MATCHES "^[ \t]+([A-Za-z_][A-Za-z0-9_]*)[ \t]+@([0-9]+)")
      set(name ${CMAKE_MATCH_1})
      set(ordinal ${CMAKE_MATCH_2})
      if(NOT symbols MATCHES " T _${name}@([0-9]+)\n")
        message(FATAL_ERROR "zadized_implib: the DLL has no stdcall symbol _${name}@N; "
                            "is ${name} declared stdcall in exports.h?")
      endif()
      string(APPEND decorated "  ${name}@${CMAKE_MATCH_1} @${ordinal}\n")
      math(EXPR exports "${exports} + 1")
    endif()
  endforeach()
  if(exports EQUAL 0)
    message(FATAL_ERROR "zadized_implib: no exports found in ${DEF}")
  endif()

  file(MAKE_DIRECTORY ${WORK})
  set(def ${WORK}/zadized-decorated.def)
  file(WRITE ${def} "${decorated}")
  execute_process(COMMAND ${DLLTOOL} -k -d ${def} -D zadized.dll -l ${MINGW_OUT} RESULT_VARIABLE dlltool_result)
  if(NOT dlltool_result EQUAL 0)
    message(FATAL_ERROR "zadized_implib: ${DLLTOOL} failed")
  endif()
  set(machine i386)
  set(kill -k)
endif()

execute_process(COMMAND ${LLVM_DLLTOOL} -m ${machine} ${kill} -d ${def} -D zadized.dll -l ${MSVC_OUT}
                RESULT_VARIABLE llvm_result)
if(NOT llvm_result EQUAL 0)
  message(FATAL_ERROR "zadized_implib: ${LLVM_DLLTOOL} failed")
endif()
