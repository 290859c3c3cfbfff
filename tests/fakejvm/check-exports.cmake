# Fails unless LIBRARY exports exactly the three JNI entry points, under their plain names: a
# launcher looks them up by those names, so a decorated 32-bit name (JNI_CreateJavaVM@12) or a
# missing one would make the stand-in unusable.
#   cmake -DOBJDUMP=<objdump> -DLIBRARY=<jvm.dll> -P check-exports.cmake
execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${LIBRARY} failed")
endif()

# After the heading "[Ordinal/Name Pointer] Table" come lines like "\t[   0] JNI_CreateJavaVM",
# up to the first blank line. Brackets and semicolons would upset CMake's list splitting, so
# they are replaced first.
string(REPLACE ";" "," dump "${dump}")
string(REPLACE "[" "<" dump "${dump}")
string(REPLACE "]" ">" dump "${dump}")
string(REPLACE "\n" ";" lines "${dump}")
set(names)
set(in_table FALSE)
foreach(line IN LISTS lines)
  if(line MATCHES "^<Ordinal/Name Pointer> Table")
    set(in_table TRUE)
  elseif(in_table AND line MATCHES "^[ \t]*<[ 0-9]+> (.+)$")
    list(APPEND names "${CMAKE_MATCH_1}")
  elseif(in_table)
    break()
  endif()
endforeach()
list(SORT names)

set(expected JNI_CreateJavaVM JNI_GetCreatedJavaVMs JNI_GetDefaultJavaVMInitArgs)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "${LIBRARY} exports [${names}], not [${expected}]")
endif()
message(STATUS "${LIBRARY} exports ${names}")
