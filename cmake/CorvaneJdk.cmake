# Finds the JDK used for jni.h, for building the Java parts and for the tests,
# through tools/lib/find-jdk (which the scripts use as well): JAVA_HOME when it
# holds a javac, else the newest JDK under /usr/lib/jvm.
# Sets CORVANE_JDK_HOME, CORVANE_JDK_MAJOR and CORVANE_JDK_MINIMUM (the oldest
# major version the launcher's default JVM options run on).

get_filename_component(corvane_find_jdk_script "${CMAKE_CURRENT_LIST_DIR}/../tools/lib/find-jdk" ABSOLUTE)
# A changed minimum (or lookup) configures again.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${corvane_find_jdk_script}")

# corvane_find_jdk_run(<out> <arguments...>): find-jdk's output in <out>, empty when it fails.
function(corvane_find_jdk_run out)
  execute_process(COMMAND "${corvane_find_jdk_script}" ${ARGN}
    OUTPUT_VARIABLE output OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    set(output "")
  endif()
  set(${out} "${output}" PARENT_SCOPE)
endfunction()

set(CORVANE_JDK_HOME "" CACHE PATH "JDK to build and test with (default: JAVA_HOME, else the newest under /usr/lib/jvm)")
if(NOT CORVANE_JDK_HOME)
  corvane_find_jdk_run(found)
  if(NOT found)
    message(FATAL_ERROR "No JDK found: set JAVA_HOME or install one under /usr/lib/jvm (apt-get install openjdk-17-jdk-headless)")
  endif()
  set(CORVANE_JDK_HOME "${found}" CACHE PATH "JDK to build and test with" FORCE)
endif()
corvane_find_jdk_run(CORVANE_JDK_MAJOR --major "${CORVANE_JDK_HOME}")
corvane_find_jdk_run(CORVANE_JDK_MINIMUM --minimum)
if(NOT CORVANE_JDK_MAJOR MATCHES "^[0-9]+$" OR NOT CORVANE_JDK_MINIMUM MATCHES "^[0-9]+$")
  message(FATAL_ERROR "${corvane_find_jdk_script} failed: major version '${CORVANE_JDK_MAJOR}', minimum '${CORVANE_JDK_MINIMUM}'")
endif()
if(CORVANE_JDK_MAJOR LESS CORVANE_JDK_MINIMUM)
  message(WARNING "JDK ${CORVANE_JDK_HOME} is major version ${CORVANE_JDK_MAJOR}: the launcher's default options need "
                  "${CORVANE_JDK_MINIMUM} or newer; tests that need them will be skipped and runs use CORVANE_AGGRESSIVE_OPTIMIZATIONS=0")
else()
  message(STATUS "JDK: ${CORVANE_JDK_HOME} (major ${CORVANE_JDK_MAJOR})")
endif()
set(CORVANE_JNI_INCLUDE_DIRS "${CORVANE_JDK_HOME}/include" "${CORVANE_JDK_HOME}/include/linux")
set(CORVANE_JAVAC "${CORVANE_JDK_HOME}/bin/javac")
set(CORVANE_JAR "${CORVANE_JDK_HOME}/bin/jar")
