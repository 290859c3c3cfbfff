# The JNI headers steward is compiled against, as the INTERFACE target steward_jni.
#
# jni.h is the JDK's own. It includes "jni_md.h", the machine-dependent part: natively the JDK's
# include/linux holds it; the Windows builds take the project's own src/platform/jni/windows,
# since a Linux JDK carries no Windows variant.
#
# Also sets, for the native tests:
#   STEWARD_JAVA_HOME  the JDK whose headers are used (and whose javac compiles the test classes)
#   STEWARD_LIBJVM     that JDK's real JVM library, which the native end-to-end tests host

set(jni_candidates)
if(DEFINED ENV{JAVA_HOME} AND NOT "$ENV{JAVA_HOME}" STREQUAL "")
  list(APPEND jni_candidates "$ENV{JAVA_HOME}")
endif()
list(APPEND jni_candidates /usr/lib/jvm/java-17-openjdk-amd64)

set(STEWARD_JAVA_HOME "")
foreach(candidate IN LISTS jni_candidates)
  if(EXISTS "${candidate}/include/jni.h")
    set(STEWARD_JAVA_HOME "${candidate}")
    break()
  endif()
endforeach()
if(STEWARD_JAVA_HOME STREQUAL "")
  message(FATAL_ERROR
    "No JDK with include/jni.h found (looked in: ${jni_candidates}). "
    "Install openjdk-17-jdk-headless or point JAVA_HOME at a JDK.")
endif()
set(STEWARD_LIBJVM "${STEWARD_JAVA_HOME}/lib/server/libjvm.so")
if(NOT WIN32 AND NOT EXISTS "${STEWARD_LIBJVM}")
  # steward builds without it; only the end-to-end tests, which host it, need it.
  message(WARNING "${STEWARD_LIBJVM} is missing: the end-to-end tests cannot host a JVM.")
endif()

add_library(steward_jni INTERFACE)
if(WIN32)
  # The project's jni_md.h must be found before anything else of that name.
  target_include_directories(steward_jni SYSTEM INTERFACE
    ${CMAKE_CURRENT_LIST_DIR}/../src/platform/jni/windows
    ${STEWARD_JAVA_HOME}/include)
else()
  target_include_directories(steward_jni SYSTEM INTERFACE
    ${STEWARD_JAVA_HOME}/include
    ${STEWARD_JAVA_HOME}/include/linux)
endif()

# steward_add_java_classes(TARGET OUTPUT_DIR COMMENT SOURCES...): compiles Java sources with the
# JDK's javac (warnings as errors) into OUTPUT_DIR as part of the build.
function(steward_add_java_classes target output_dir comment)
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${target}.stamp)
  add_custom_command(
    OUTPUT ${stamp}
    COMMAND ${STEWARD_JAVA_HOME}/bin/javac -encoding UTF-8 -Xlint:all -Werror
            -d ${output_dir} ${ARGN}
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${ARGN}
    COMMENT "${comment}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${stamp})
endfunction()
