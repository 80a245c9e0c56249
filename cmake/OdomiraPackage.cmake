# The Debian packages, made by CPack from the install rules:
#   cpack --config build/CPackConfig.cmake -G DEB -B <folder>      (or scripts/package)
# gives odomira (everything of the component "odomira") and odomira-printer-sim (the
# simulator, which a user of the programs does not need). Dependencies are found from
# the shared libraries the programs link (dpkg-shlibdeps, Debian package dpkg-dev).

set(ODOMIRA_PACKAGE_MAINTAINER "Odomira maintainers <odomira@example.org>"
    CACHE STRING "Maintainer field of the Debian package")

# What every package carries in its documentation folder: the copyright in Debian's
# machine-readable form and the changelog made from NEWS (named changelog.gz, as for a
# package whose source is the project itself, without a Debian revision).
set(_odomira_debian ${CMAKE_BINARY_DIR}/debian)
odomira_write_debian_changelog(${_odomira_debian}/changelog odomira "${ODOMIRA_PACKAGE_MAINTAINER}")
add_custom_command(OUTPUT ${_odomira_debian}/changelog.gz
    COMMAND sh -c "\"$1\" -9n -c \"$2\" > \"$3\"" sh ${ODOMIRA_GZIP} ${_odomira_debian}/changelog
            ${_odomira_debian}/changelog.gz
    DEPENDS ${_odomira_debian}/changelog
    COMMENT "Compressing the Debian changelog" VERBATIM)
add_custom_target(odomira_debian_changelog ALL DEPENDS ${_odomira_debian}/changelog.gz)
foreach(component odomira printersim)
    if(component STREQUAL "odomira")
        set(docdir ${CMAKE_INSTALL_DOCDIR})
    else()
        set(docdir ${CMAKE_INSTALL_DATADIR}/doc/odomira-printer-sim)
    endif()
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${_odomira_debian}/changelog.gz
            DESTINATION ${docdir} COMPONENT ${component})
endforeach()

# The manual, registered with doc-base (which lists it in documentation browsers), and
# reachable from the documentation folder, where a user looks first.
file(RELATIVE_PATH _odomira_doc_to_manual "${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DOCDIR}"
     "${CMAKE_INSTALL_PREFIX}/${ODOMIRA_INSTALL_MANUALDIR}")
install(CODE "
    set(link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DOCDIR}/manual\")
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DOCDIR}\")
    file(REMOVE \"\${link}\")
    file(CREATE_LINK \"${_odomira_doc_to_manual}\" \"\${link}\" SYMBOLIC)
    message(STATUS \"Installing: \${link} -> ${_odomira_doc_to_manual}\")
    # doc-base needs the manual's absolute place, known only now, and takes only places
    # in the documentation folder: the link.
    set(manual \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DOCDIR}/manual\")
    configure_file(\"${CMAKE_CURRENT_LIST_DIR}/debian/doc-base.in\"
                   \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/doc-base/odomira-manual\"
                   @ONLY)
    message(STATUS \"Installing: \$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/doc-base/odomira-manual\")
    " COMPONENT odomira)

# What lintian says of the package and is meant so, each with its reason.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/odomira.lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME odomira COMPONENT odomira)

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_PACKAGE_NAME odomira)
set(CPACK_PACKAGE_VENDOR "Varko Technologies Corporation")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CHECKSUM SHA256)

# CPack's own stripping calls strip without arguments, which keeps the .comment
# section; cmake/debian/strip.cmake strips as Debian's own tools do.
set(CPACK_STRIP_FILES FALSE)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian/strip.cmake)
set(CPACK_ODOMIRA_STRIP ${CMAKE_STRIP})

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ODOMIRA_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

# Description lines stay within 80 columns, as Debian's tools show them.
set(CPACK_DEBIAN_ODOMIRA_PACKAGE_NAME odomira)
set(CPACK_DEBIAN_ODOMIRA_DESCRIPTION
    "serial numbers and odometers of a fleet of label printers
Odomira keeps a list of label printers, connected by serial line, parallel
port, USB or TCP/IP, and asks each printer for its serial number and its
head and total usage odometers, in inches or millimetres. It sets serial
numbers, shows and prints head histories, prints odometer reports and test
pages, and resets head odometers. Printers are added by hand or found on USB
and on the local network; the list is kept in a printer settings file (.vps).
.
The package holds the windowed program odomira, the command-line tool
odomira-cli, the printer support library and the user manual.")
# Help opens the manual through xdg-open; the caches are refreshed by these packages'
# triggers.
set(CPACK_DEBIAN_ODOMIRA_PACKAGE_RECOMMENDS
    "xdg-utils, desktop-file-utils, shared-mime-info, hicolor-icon-theme")
set(CPACK_DEBIAN_ODOMIRA_PACKAGE_SUGGESTS odomira-printer-sim)
set(CPACK_DEBIAN_ODOMIRA_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)

set(CPACK_DEBIAN_PRINTERSIM_PACKAGE_NAME odomira-printer-sim)
set(CPACK_DEBIAN_PRINTERSIM_DESCRIPTION
    "simulated label printers for trying and testing Odomira
odomira-printer-sim plays a fleet of label printers on this computer: serial,
USB and parallel printers on pseudo-terminals, network printers on loopback
TCP ports, and the answers to the network search. It answers the printers'
queries, records every byte it receives and can misbehave on purpose, so
that Odomira and odomira-cli can be tried and tested without real printers.")

include(CPack)
