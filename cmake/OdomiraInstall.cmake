# Where an installed Odomira puts its files: the GNU directories (bin, share, ...) under
# CMAKE_INSTALL_PREFIX. Included before any target is made, because the run-time search
# path below is taken by every target when it is created.
#
# The printer library and the USB discovery library are private to these programs and
# live together in a folder of their own, ${ODOMIRA_INSTALL_LIBDIR}: the printer library
# loads libVarkoUSB.so from its own folder first, and nothing else on the system should
# link against either. Programs find them through a run path relative to their own
# location, so an installed or unpacked tree works wherever it lies, without
# LD_LIBRARY_PATH.
#
# Everything belongs to the component "odomira" (the package of that name) unless an
# install rule names another: the printer simulator is "printersim", a package of its own.

set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME odomira)

# The lower-case package name is what Debian expects for the documentation folder. A
# value given on the command line wins; an empty cache entry (GNUInstallDirs' own
# default) does not.
if(NOT CMAKE_INSTALL_DOCDIR)
    set(CMAKE_INSTALL_DOCDIR share/doc/odomira)
endif()
include(GNUInstallDirs)

# Debian keeps private libraries in the multiarch folder too. GNUInstallDirs picks that
# folder only when the prefix is /usr at configure time, but the package is made from a
# build configured for any prefix, so the triplet is added here whenever the library
# folder is the plain default.
if(CMAKE_LIBRARY_ARCHITECTURE AND CMAKE_INSTALL_LIBDIR STREQUAL "lib")
    set(ODOMIRA_INSTALL_LIBDIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}/odomira")
else()
    set(ODOMIRA_INSTALL_LIBDIR "${CMAKE_INSTALL_LIBDIR}/odomira")
endif()
# The manual is read by the program, so it lies with the program's data, not under the
# documentation folder, which minimal systems leave out; that folder gets a link to it.
# The program looks for it at <bin>/../share/odomira/manual.
set(ODOMIRA_INSTALL_MANUALDIR "${CMAKE_INSTALL_DATADIR}/odomira/manual")
# The desktop entry's name is what the running program gives as its desktop file name
# (QGuiApplication::setDesktopFileName, the app id on Wayland), so the desktop shows the
# window under the entry's name and icon. The AppStream component needs a reverse-DNS
# identifier of its own and names the entry as its launchable.
set(ODOMIRA_DESKTOP_ID "odomira")
set(ODOMIRA_APP_ID "com.varko.Odomira")

file(RELATIVE_PATH _odomira_bin_to_lib "${CMAKE_INSTALL_FULL_BINDIR}"
     "${CMAKE_INSTALL_PREFIX}/${ODOMIRA_INSTALL_LIBDIR}")
set(CMAKE_INSTALL_RPATH "$ORIGIN/${_odomira_bin_to_lib}")
# The manual's place as seen from the program, for a program that wants it compiled in.
file(RELATIVE_PATH ODOMIRA_MANUAL_FROM_BINDIR "${CMAKE_INSTALL_FULL_BINDIR}"
     "${CMAKE_INSTALL_PREFIX}/${ODOMIRA_INSTALL_MANUALDIR}")

# Installs programs into the bin folder, with the run path to the private libraries.
# Safe to call more than once for the same target. COMPONENT name puts them into another
# package than odomira.
function(odomira_install_programs)
    cmake_parse_arguments(PARSE_ARGV 0 arg "" "COMPONENT" "")
    if(NOT arg_COMPONENT)
        set(arg_COMPONENT ${CMAKE_INSTALL_DEFAULT_COMPONENT_NAME})
    endif()
    foreach(target ${arg_UNPARSED_ARGUMENTS})
        get_property(done GLOBAL PROPERTY ODOMIRA_INSTALLED_${target})
        if(NOT done)
            install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
                    COMPONENT ${arg_COMPONENT})
            set_property(GLOBAL PROPERTY ODOMIRA_INSTALLED_${target} TRUE)
        endif()
    endforeach()
endfunction()

# Called once every target exists (end of the top-level CMakeLists.txt).
function(odomira_install_project)
    # The libraries need no run path of their own: Qt and the C++ run time come from the
    # system, and the USB library is loaded by full path from the printer library's
    # folder.
    set_target_properties(VarkoPrintersExt PROPERTIES INSTALL_RPATH "")
    install(TARGETS VarkoPrintersExt LIBRARY DESTINATION ${ODOMIRA_INSTALL_LIBDIR} NAMELINK_SKIP)
    if(TARGET VarkoUSB)
        set_target_properties(VarkoUSB PROPERTIES INSTALL_RPATH "")
        install(TARGETS VarkoUSB LIBRARY DESTINATION ${ODOMIRA_INSTALL_LIBDIR})
    endif()
    odomira_install_programs(odomira-cli)
    odomira_install_programs(odomira-printer-sim COMPONENT printersim)
    if(TARGET odomira)
        odomira_install_programs(odomira)
    endif()
endfunction()
