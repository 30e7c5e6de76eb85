# Install rules and the Debian package (CPack).
#
#   cmake --install build [--prefix /usr/local]   # make install
#   cd build && cpack -G DEB                      # make package
#
# Layout under the prefix: bin/vqsrv (and bin/vqcall when the client is
# built), lib/systemd/system/vqsrv.service and vqsrv@.service, samples in
# share/vqsrv/, the README in share/doc/vqsrv/. The package adds
# /etc/logrotate.d/vqsrv (a conffile).

include(GNUInstallDirs)

# Installing and packaging take what is built; they do not build the whole
# tree first (`make install` and `make package` build before they run). This
# keeps cpack from starting a full build, e.g. from inside the test suite.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(VQ_CONTRIB_DIR ${PROJECT_SOURCE_DIR}/contrib)
set(VQ_SHARE_DIR ${CMAKE_INSTALL_DATADIR}/vqsrv)
set(VQ_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/vqsrv)

install(TARGETS vqsrv vqcall RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The units name /usr/bin/vqsrv; an install under another prefix gets its
# own binary path written in, so the installed unit starts the installed
# binary. The rewrite happens at install time because that is when the
# prefix is known (cmake --install --prefix, or CPack's /usr).
install(CODE "
  set(VQ_UNIT_SOURCES \"${VQ_CONTRIB_DIR}/vqsrv.service;${VQ_CONTRIB_DIR}/vqsrv@.service\")
  set(VQ_UNIT_STAGE \"${CMAKE_CURRENT_BINARY_DIR}/vq_units\")
  set(VQ_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
")
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/InstallUnits.cmake)

install(FILES ${VQ_CONTRIB_DIR}/odbc.ini DESTINATION ${VQ_SHARE_DIR} RENAME odbc.ini.sample)
install(FILES ${VQ_CONTRIB_DIR}/vqsrv.env DESTINATION ${VQ_SHARE_DIR} RENAME vqsrv.env.sample)
install(FILES ${VQ_CONTRIB_DIR}/haproxy.cfg DESTINATION ${VQ_SHARE_DIR} RENAME haproxy.cfg.sample)
install(FILES ${VQ_CONTRIB_DIR}/vqsrv.logrotate DESTINATION ${VQ_SHARE_DIR} RENAME logrotate.sample)
install(FILES ${PROJECT_SOURCE_DIR}/data/demo.sql DESTINATION ${VQ_SHARE_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${VQ_DOC_DIR})

# Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vqsrv)
set(CPACK_PACKAGE_VERSION 0.1.0)
set(CPACK_PACKAGE_VENDOR "vqsrv developers")
set(CPACK_PACKAGE_CONTACT "vqsrv developers <root@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "small database query service over HTTP and ODBC")
set(CPACK_PACKAGE_DESCRIPTION
    "vqsrv answers JSON requests on POST /ZIDozeve by running SQL on an ODBC data source and replying with text or structured rows. It keeps nothing between requests, so several instances can run behind a load balancer. Ships a hardened systemd unit and sample configuration.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# unixodbc brings the driver manager's configuration and tools the README
# uses; adduser is needed by postinst. The shared libraries (libc6,
# libstdc++6, libodbc2, ...) come from dpkg-shlibdeps when it is there.
find_program(VQ_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(VQ_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "unixodbc, adduser")
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "unixodbc, adduser, libc6, libstdc++6, libgcc-s1, libodbc2")
endif()
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libsqliteodbc | odbc-postgresql")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "haproxy, odbc-postgresql, libsqliteodbc, odbc-mariadb")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${VQ_CONTRIB_DIR}/deb/postinst
    ${VQ_CONTRIB_DIR}/deb/prerm
    ${VQ_CONTRIB_DIR}/deb/postrm
    ${VQ_CONTRIB_DIR}/deb/conffiles)
# /etc/logrotate.d/vqsrv comes with the package only: a plain install keeps
# to its prefix (share/vqsrv/logrotate.sample).
set(CPACK_INSTALL_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/PackageConffiles.cmake)
set(CPACK_VQ_CONTRIB_DIR ${VQ_CONTRIB_DIR})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
