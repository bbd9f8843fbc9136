# The program itself, started under a virtual X server and driven like a user.
find_program(ARCHIVON_XVFB Xvfb)
find_program(ARCHIVON_XDOTOOL xdotool)
if(ARCHIVON_XVFB AND ARCHIVON_XDOTOOL)
  add_test(NAME e2e_backup
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/app/e2e_backup.sh $<TARGET_FILE:archivon>)
  set_tests_properties(e2e_backup PROPERTIES
    ENVIRONMENT "LC_ALL=it_IT.UTF-8;LANG=it_IT.UTF-8"
    TIMEOUT 300)
else()
  message(STATUS "Xvfb or xdotool missing: the test of the window by clicks is not registered")
endif()

# Unattended runs need no X server: they run offscreen, as under cron.
add_test(NAME e2e_unattended
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/app/e2e_unattended.sh $<TARGET_FILE:archivon>)
set_tests_properties(e2e_unattended PROPERTIES
  ENVIRONMENT "LC_ALL=it_IT.UTF-8;LANG=it_IT.UTF-8" TIMEOUT 300)
target_compile_definitions(tst_app PRIVATE ARCHIVON_TEST_VERSION="${PROJECT_VERSION}")

# Onto a real Samba share mounted twice: skipped where Samba or FUSE is missing.
add_test(NAME e2e_share
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/app/e2e_share.sh $<TARGET_FILE:archivon>)
set_tests_properties(e2e_share PROPERTIES
  ENVIRONMENT "LC_ALL=it_IT.UTF-8;LANG=it_IT.UTF-8" TIMEOUT 300 SKIP_RETURN_CODE 77)

# The restore drill: evenings of runs given back one by one, with R: on the local
# disk, on an exFAT image and on a Samba share (the last two skipped without root,
# exfat-fuse, Samba or FUSE).
foreach(drive local exfat share)
  add_test(NAME e2e_restore_${drive}
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/app/e2e_restore.sh $<TARGET_FILE:archivon> ${drive})
  set_tests_properties(e2e_restore_${drive} PROPERTIES
    ENVIRONMENT "LC_ALL=it_IT.UTF-8;LANG=it_IT.UTF-8;ARCHIVON_TEST=1" TIMEOUT 300 SKIP_RETURN_CODE 77)
endforeach()

# The check of the backup: a byte changed on R: and on C:, checks of a quarter, a
# backup that a check gives way to; on the local disk, an exFAT image and a Samba share.
foreach(drive local exfat share)
  add_test(NAME e2e_check_${drive}
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/app/e2e_check.sh $<TARGET_FILE:archivon> ${drive})
  set_tests_properties(e2e_check_${drive} PROPERTIES
    ENVIRONMENT "LC_ALL=it_IT.UTF-8;LANG=it_IT.UTF-8;ARCHIVON_TEST=1" TIMEOUT 300 SKIP_RETURN_CODE 77)
endforeach()
