# Builds the demo databases and the login settings that point at them.
#   cmake -DSOURCE_DIR=<source tree> -DDEMO_DIR=<output folder> -P db/make_demo.cmake
# Optional: -DSQLITE3=<path of the sqlite3 shell>.
cmake_minimum_required(VERSION 3.19) # file(CHMOD)

foreach(required SOURCE_DIR DEMO_DIR)
  if(NOT ${required})
    message(FATAL_ERROR "make_demo: ${required} is not set")
  endif()
endforeach()

# The login settings must name the folder absolutely: the utility may be
# started from anywhere.
get_filename_component(DEMO_DIR "${DEMO_DIR}" ABSOLUTE)
get_filename_component(SOURCE_DIR "${SOURCE_DIR}" ABSOLUTE)

if(NOT SQLITE3)
  find_program(SQLITE3 sqlite3)
endif()
if(NOT SQLITE3)
  message(FATAL_ERROR "make_demo: the sqlite3 command-line shell was not found (install the sqlite3 package)")
endif()

set(schema "${SOURCE_DIR}/db/schema.sql")
if(NOT EXISTS "${schema}")
  message(FATAL_ERROR "make_demo: ${schema} is missing")
endif()

file(MAKE_DIRECTORY "${DEMO_DIR}")

# talvex is the application's own database; the other two are the enabled
# firms it lists.
foreach(database talvex firm_sunrise firm_harbour)
  set(data "${SOURCE_DIR}/db/demo/${database}.sql")
  set(target "${DEMO_DIR}/${database}.db")
  if(NOT EXISTS "${data}")
    message(FATAL_ERROR "make_demo: ${data} is missing")
  endif()

  file(REMOVE "${target}" "${target}-journal" "${target}-wal" "${target}-shm")
  execute_process(
    COMMAND "${SQLITE3}" -bail "${target}" ".read '${schema}'" ".read '${data}'"
    RESULT_VARIABLE result
    OUTPUT_VARIABLE output
    ERROR_VARIABLE errors)
  # The shell does not always set its exit code for errors in a read file, so
  # anything on its error output counts as a failure as well.
  if(NOT result EQUAL 0 OR NOT errors STREQUAL "")
    # A half-built database must not be mistaken for a good one.
    file(REMOVE "${target}")
    message(FATAL_ERROR "make_demo: sqlite3 failed on ${data} (exit ${result}):\n${errors}${output}")
  endif()
  message(STATUS "make_demo: created ${target}")
endforeach()

# The utility is started with XDG_CONFIG_HOME=<DEMO_DIR>/config and refuses
# settings that group or others may read.
set(settings "${DEMO_DIR}/config/talvex/login.ini")
file(MAKE_DIRECTORY "${DEMO_DIR}/config/talvex")
file(WRITE "${settings}" "ServerName=${DEMO_DIR}\npwd=demo\nDriver=SQLite3\n")
file(CHMOD "${settings}" PERMISSIONS OWNER_READ OWNER_WRITE)
message(STATUS "make_demo: wrote ${settings}")
message(STATUS "make_demo: run with XDG_CONFIG_HOME=${DEMO_DIR}/config")
