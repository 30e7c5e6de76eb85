# Run by CPack only (CPACK_INSTALL_SCRIPTS), never by cmake --install: puts
# the files the Debian package owns under /etc into the staging tree (CPack
# sets DESTDIR to it; file(INSTALL) writes below DESTDIR). They are listed in
# contrib/deb/conffiles, so dpkg keeps an operator's edits.
# Expects CPACK_VQ_CONTRIB_DIR.
if("$ENV{DESTDIR}" STREQUAL "")
  message(FATAL_ERROR "PackageConffiles.cmake runs inside CPack only (DESTDIR is not set)")
endif()
file(INSTALL DESTINATION /etc/logrotate.d TYPE FILE
     PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
     RENAME vqsrv
     FILES "${CPACK_VQ_CONTRIB_DIR}/vqsrv.logrotate")
