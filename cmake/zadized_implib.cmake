# Script mode: builds the import library for C and C++ hosts.
#
# A stdcall declaration makes the compiler refer to _SearchImage@28, while the
# DLL exports the plain name SearchImage (zadized.def). The linker's own import
# library only knows the plain names, so a host would not link. This script
# reads the decorated names from the unstripped DLL's symbol table, pairs them
# with the names and ordinals of zadized.def, and has dlltool write an import
# library whose decorated symbols import the plain names (-k).
#
# Variables: NM, DLLTOOL, DEF (zadized.def), DLL (unstripped), WORK (a folder
# for the decorated .def), OUT (the import library to write).
foreach(var NM DLLTOOL DEF DLL WORK OUT)
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
file(WRITE ${WORK}/zadized-decorated.def "${decorated}")
execute_process(COMMAND ${DLLTOOL} -k -d ${WORK}/zadized-decorated.def -D zadized.dll -l ${OUT}
                RESULT_VARIABLE dlltool_result)
if(NOT dlltool_result EQUAL 0)
  message(FATAL_ERROR "zadized_implib: ${DLLTOOL} failed")
endif()
