# The Debian package: `cpack -G DEB` in the build directory (scripts/check-package does it).
# It installs krpalvelin and krpalvelin-cli in /usr/bin, the systemd unit, the service's
# system user (sysusers.d) and an example settings file; postinst creates /etc/krpalvelin.
include(GNUInstallDirs)

install(TARGETS krpalvelin krpalvelin-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/krpalvelin.service DESTINATION lib/systemd/system)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/krpalvelin.sysusers
        DESTINATION lib/sysusers.d RENAME krpalvelin.conf)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/asetukset.ini DESTINATION ${CMAKE_INSTALL_DATADIR}/krpalvelin)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/protocol.md
              ${PROJECT_SOURCE_DIR}/docs/openapi.yaml ${PROJECT_SOURCE_DIR}/packaging/haproxy-krpalvelin.cfg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/krpalvelin)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME krpalvelin)
set(CPACK_PACKAGE_VENDOR "KRPalvelin")
set(CPACK_PACKAGE_CONTACT "KRPalvelin maintainers <krpalvelin@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Application server publishing ERP remote methods over HTTPS")
set(CPACK_PACKAGE_DESCRIPTION
    "KRPalvelin lets warehouse terminals and workshop applications work on the ERP's database.\nIt runs as a systemd service (krpalvelin.service) with its settings, certificate and key\nin /etc/krpalvelin.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY krpalvelin)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "openssl, adduser | systemd")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "odbc-mariadb, sqlite3")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/postinst ${PROJECT_SOURCE_DIR}/packaging/prerm
    ${PROJECT_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
