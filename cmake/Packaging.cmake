# The Debian package, made by `cpack` in a build tree: kalvex_<version>_amd64.deb, its
# dependencies read from the installed programs' libraries (dpkg-shlibdeps) plus what they use
# without linking, and a postinst that gives the program its two network capabilities.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kalvex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Kalvex developers <kalvex@example.invalid>"
    CACHE STRING "The package's maintainer, as Name <address>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "bring a bricked router or modem board back over Ethernet")
set(CPACK_PACKAGE_DESCRIPTION
    "Kalvex answers a board's boot loader with BOOTP and TFTP on the PC's wired adapter,
serves it a firmware image, shows the transfer's progress and waits while the board writes
the image and reboots. It runs as the logged-in user with two file capabilities.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# setcap for the postinst; the windows' font, which FLTK looks up by name.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcap2-bin, fonts-liberation2")

# Installed for /usr with DESTDIR, so that the paths filled in at install time are the
# package's, not the staging directory's.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)

set(KALVEX_PROGRAM ${CPACK_PACKAGING_INSTALL_PREFIX}/bin/kalvex)
configure_file(${PROJECT_SOURCE_DIR}/packaging/postinst.in ${PROJECT_BINARY_DIR}/packaging/postinst
               @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                      GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/packaging/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
