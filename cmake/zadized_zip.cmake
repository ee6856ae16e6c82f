# Script mode: packs the release zip from the two architectures' parts.
#
#   NAME/include/zadized.h
#   NAME/x86/FILES, NAME/x64/FILES   (each part as its build tree staged it)
#   NAME/guide.md
#   NAME/images/*.png                (the guide's pictures, where its links lead)
#
# Variables: NAME, ZIP, X86 and X64 (the staged parts), FILES (the list of
# files each part holds), HEADER, GUIDE, IMAGES (the folder of the guide's
# pictures), WORK (a folder to lay the tree out).
foreach(var NAME ZIP X86 X64 FILES HEADER GUIDE IMAGES WORK)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "zadized_zip: ${var} is not set")
  endif()
endforeach()

# The PE machine field says which architecture a program was built for, so a
# part taken from the wrong tree is refused rather than shipped.
function(check_machine file expected)
  file(READ ${file} pe_offset OFFSET 60 LIMIT 4 HEX)
  string(REGEX REPLACE "(..)(..)(..)(..)" "0x\\4\\3\\2\\1" pe_offset "${pe_offset}")
  math(EXPR machine_at "${pe_offset} + 4")
  file(READ ${file} machine OFFSET ${machine_at} LIMIT 2 HEX)
  if(NOT machine STREQUAL expected)
    message(FATAL_ERROR "zadized_zip: ${file} is not built for the architecture of its folder")
  endif()
endfunction()

set(part_x86 ${X86})
set(part_x64 ${X64})
file(GLOB images ${IMAGES}/*.png)
set(inputs ${HEADER} ${GUIDE} ${images})
foreach(arch x86 x64)
  foreach(f IN LISTS FILES)
    if(NOT EXISTS ${part_${arch}}/${f})
      message(FATAL_ERROR "zadized_zip: ${part_${arch}}/${f} is missing; the release zip needs both builds, "
                          "build/win32 before build/win64 (or set ZADIZED_X86_BUILD_DIR)")
    endif()
    list(APPEND inputs ${part_${arch}}/${f})
  endforeach()
endforeach()
check_machine(${X86}/zadized.dll 4c01)
check_machine(${X86}/zadized-find.exe 4c01)
check_machine(${X64}/zadized.dll 6486)
check_machine(${X64}/zadized-find.exe 6486)

set(stale FALSE)
foreach(input IN LISTS inputs)
  if(NOT EXISTS ${ZIP} OR ${input} IS_NEWER_THAN ${ZIP})
    set(stale TRUE)
  endif()
endforeach()
if(NOT stale)
  return()
endif()

set(root ${WORK}/${NAME})
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${root}/include ${root}/x86 ${root}/x64)
file(COPY ${HEADER} DESTINATION ${root}/include)
file(COPY ${GUIDE} DESTINATION ${root})
file(COPY ${images} DESTINATION ${root}/images)
foreach(arch x86 x64)
  foreach(f IN LISTS FILES)
    file(COPY ${part_${arch}}/${f} DESTINATION ${root}/${arch})
  endforeach()
endforeach()
file(REMOVE ${ZIP})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${ZIP} --format=zip ${NAME} WORKING_DIRECTORY ${WORK}
                RESULT_VARIABLE tar_result)
if(NOT tar_result EQUAL 0)
  message(FATAL_ERROR "zadized_zip: packing ${ZIP} failed")
endif()
message(STATUS "Packed ${ZIP}")
