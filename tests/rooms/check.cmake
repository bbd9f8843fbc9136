# Checks every #include "<room>/<name>.h" under SRC against the rooms table
# ROOMS: a room may include itself, the platform layer, the file services and
# what its line names. Fails naming each include that is not allowed, and each
# folder of SRC the table does not know.
#   cmake -DSRC=<src> -DROOMS=<src/rooms.txt> -P check.cmake
cmake_minimum_required(VERSION 3.21)
get_filename_component(SRC ${SRC} ABSOLUTE)
file(STRINGS ${ROOMS} lines REGEX "^[a-z]+:")
set(rooms)
foreach(line ${lines})
  string(REGEX MATCH "^([a-z]+):(.*)$" _ "${line}")
  set(room ${CMAKE_MATCH_1})
  separate_arguments(uses UNIX_COMMAND "${CMAKE_MATCH_2}")
  list(APPEND rooms ${room})
  set(uses_${room} ${room} platform fileservices ${uses})
endforeach()

set(faults)
file(GLOB folders LIST_DIRECTORIES true RELATIVE ${SRC} ${SRC}/*)
foreach(folder ${folders})
  if(IS_DIRECTORY ${SRC}/${folder} AND NOT folder IN_LIST rooms)
    list(APPEND faults "${folder}/ is no room of ${ROOMS}")
  endif()
endforeach()

foreach(room ${rooms})
  file(GLOB sources ${SRC}/${room}/*.h ${SRC}/${room}/*.cpp)
  foreach(source ${sources})
    file(STRINGS ${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[a-z]+/[A-Za-z_0-9]+\\.h\"")
    foreach(include ${includes})
      string(REGEX MATCH "\"(([a-z]+)/[A-Za-z_0-9]+\\.h)\"" _ "${include}")
      set(header ${CMAKE_MATCH_1})
      set(target ${CMAKE_MATCH_2})
      if(NOT target IN_LIST rooms)
        continue() # not a room's header: a generated one, or Qt's
      endif()
      if(NOT target IN_LIST uses_${room} AND NOT header IN_LIST uses_${room})
        file(RELATIVE_PATH name ${SRC} ${source})
        list(APPEND faults "${name} includes ${header}: ${room} may not include ${target}")
      endif()
    endforeach()
  endforeach()
endforeach()

if(faults)
  list(JOIN faults "\n  " text)
  message(FATAL_ERROR "Includes across rooms that ${ROOMS} does not allow:\n  ${text}")
endif()
message(STATUS "Every include keeps to ${ROOMS}")
