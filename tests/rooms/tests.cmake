# The rooms of src/ keep to the includes src/rooms.txt allows; the second test
# plants a wrong one and expects it named.
add_test(NAME rooms_includes
         COMMAND ${CMAKE_COMMAND} -DSRC=${CMAKE_SOURCE_DIR}/src -DROOMS=${CMAKE_SOURCE_DIR}/src/rooms.txt
                 -P ${CMAKE_CURRENT_LIST_DIR}/check.cmake)
add_test(NAME rooms_planted_include
         COMMAND ${CMAKE_COMMAND} -DSRC=${CMAKE_CURRENT_LIST_DIR}/planted -DROOMS=${CMAKE_SOURCE_DIR}/src/rooms.txt
                 -P ${CMAKE_CURRENT_LIST_DIR}/check.cmake)
set_tests_properties(rooms_planted_include PROPERTIES PASS_REGULAR_EXPRESSION
                     "decision/wrong.cpp includes record/runlog.h: decision may not include record")
