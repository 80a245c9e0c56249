# The Debian package, made by CPack from the install rules:
#   cpack --config build/CPackConfig.cmake -G DEB -B <folder>      (or scripts/package)
# Dependencies are found from the shared libraries the programs link (dpkg-shlibdeps,
# Debian package dpkg-dev).

set(ODOMIRA_PACKAGE_MAINTAINER "Odomira maintainers <odomira@example.org>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME odomira)
set(CPACK_PACKAGE_VENDOR "Varko Technologies Corporation")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "serial numbers and odometers of a fleet of label printers")
set(CPACK_PACKAGE_DESCRIPTION
    "Odomira keeps a list of label printers, connected by serial line, parallel port, USB
or TCP/IP, and asks each printer for its serial number and its head and total usage
odometers, in inches or millimetres. It sets serial numbers, shows and prints head
histories, prints odometer reports and test pages, and resets head odometers. Printers
are added by hand or found on USB and on the local network; the list is kept in a
printer settings file (.vps).
.
The package holds the windowed program odomira, the command-line tool odomira-cli,
the printer simulator odomira-printer-sim, the printer support library and the user
manual.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_PACKAGE_CHECKSUM SHA256)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ODOMIRA_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Help opens the manual through xdg-open; the caches are refreshed by these packages'
# triggers.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, desktop-file-utils, shared-mime-info, hicolor-icon-theme")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

include(CPack)
