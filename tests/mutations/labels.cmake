# What each test exercises, as labels, so that the tests of one area run alone
# (ctest -L swap; ./run does so for each deliberate fault):
#   state   the run's state (hold, stop, end) and the engine's use of it
#   swap    the full rewrite built beside the old copy, its swap and recovery
#   update  the update in place
#   versions  the earlier versions: the moves into them, their folders, retention
#   links   links to folders met by the walk
#   removal tree removal
#   copy    file copies: temporary name, chunks, copies side by side
#   scan    what a walk or a folder search lists and passes over
#   texts   sizes, times, status lines and refusals as the user reads them
#   log     the run's record
#   overview  the last backup of every computer (--stato)
#   forecast  the dry run (--prova): what it foresees, and that it writes nothing
#   restore the lists the runs leave, the backup at a moment, and writing it back
#   index   the index of each pair's backup, its fingerprints and the check (--verifica)
#   paths   drive paths and their mapping
#   windows, app, package: the rest
function(archivon_test_labels name)
  if(TEST ${name}) # a test dropped since is no error
    set_tests_properties(${name} PROPERTIES LABELS "${ARGN}")
  endif()
endfunction()
archivon_test_labels(tst_platform      copy scan removal paths)
archivon_test_labels(tst_programfolder paths)
archivon_test_labels(tst_fileservices  texts scan links removal paths)
archivon_test_labels(tst_comparison    update index)
archivon_test_labels(tst_engine        state swap update links removal copy scan texts paths forecast)
archivon_test_labels(tst_update        update copy scan texts paths forecast versions index)
archivon_test_labels(tst_lock          state paths)
archivon_test_labels(tst_versions      versions forecast index)
archivon_test_labels(tst_record        log)
archivon_test_labels(tst_restore       restore)
archivon_test_labels(tst_catalogue     windows)
archivon_test_labels(tst_layout        windows)
archivon_test_labels(tst_form1         windows texts paths)
archivon_test_labels(tst_runview       windows texts state update copy)
archivon_test_labels(tst_dialogs       windows scan paths)
archivon_test_labels(tst_app           app windows overview log)
archivon_test_labels(e2e_backup        app windows state update copy scan log paths)
archivon_test_labels(e2e_unattended    app update swap copy scan log paths overview forecast)
archivon_test_labels(e2e_restore_local  restore versions swap app)
archivon_test_labels(e2e_restore_exfat  restore versions swap app)
archivon_test_labels(e2e_restore_share  restore versions swap app)
archivon_test_labels(e2e_check_local    index app overview restore)
archivon_test_labels(e2e_check_exfat    index app overview restore)
archivon_test_labels(e2e_check_share    index app overview restore)
archivon_test_labels(package_deb       package)
