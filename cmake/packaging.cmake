# `cpack` in the build folder makes a Debian package of what `cmake --install`
# puts under the prefix; its dependencies come from dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME archivon)
set(CPACK_PACKAGE_VENDOR QORL)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "backup of an office computer's folders to the server")
# The summary above is the synopsis; this is the long description below it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Archivon mirrors four fixed folders of the local disk into a folder of each
computer and user on the network drive, and shows the work while it runs.
It can run unattended from a timer or cron, with exit statuses, and keeps a
record of every run, with a copy of the latest one on the server.
The program speaks Italian.")
set(ARCHIVON_MAINTAINER "QORL <archivon@qorl.it>" CACHE STRING "Maintainer field of the package")
set(CPACK_PACKAGE_CONTACT "${ARCHIVON_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ARCHIVON_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://qorl.it/archivon)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Folders such as /usr/share/icons belong to other packages: only ours are listed.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
