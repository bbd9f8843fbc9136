# The Debian package, made by cpack from this build and unpacked into a
# temporary root.
find_program(ARCHIVON_DPKG_DEB dpkg-deb)
find_program(ARCHIVON_SHLIBDEPS dpkg-shlibdeps)
if(ARCHIVON_DPKG_DEB AND ARCHIVON_SHLIBDEPS)
  add_test(NAME package_deb
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/package/package_deb.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(package_deb PROPERTIES TIMEOUT 300)
else()
  message(STATUS "dpkg-deb or dpkg-shlibdeps missing: the package test is not registered")
endif()
