# The main window enlarged in the real program, under a virtual X server.
find_program(ARCHIVON_XVFB Xvfb)
find_program(ARCHIVON_XDOTOOL xdotool)
if(ARCHIVON_XVFB AND ARCHIVON_XDOTOOL)
  add_test(NAME e2e_maximise
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/mainwindow/e2e_maximise.sh
                   $<TARGET_FILE:archivon>)
  set_tests_properties(e2e_maximise PROPERTIES
    ENVIRONMENT "LC_ALL=it_IT.UTF-8;LANG=it_IT.UTF-8"
    TIMEOUT 120)
else()
  message(STATUS "Xvfb or xdotool missing: the end-to-end resize test is not registered")
endif()
