# Debian's hardening flags (stack protector, fortified functions, format checks, full
# RELRO with immediate binding), as dpkg-buildflags gives them, so that what the package
# ships is built as any Debian package is. The ordinary build is the one scripts/package
# packages, so it gets them too: AUTO takes them whenever dpkg-buildflags is there and
# the build optimises (the fortified functions need that) without sanitizers (which
# replace the same functions). The build type still chooses optimisation and debug
# information; of dpkg-buildflags' words only the others are taken.
#
# DEB_BUILD_MAINT_OPTIONS from the environment is honoured; without it, every hardening
# feature is asked for (immediate binding is not among dpkg's defaults), and the path
# mappings are left out so that checkouts in different folders share ccache hits.
set(ODOMIRA_DEBIAN_BUILDFLAGS AUTO CACHE STRING
    "Build with Debian's hardening flags from dpkg-buildflags (AUTO, ON or OFF)")
set_property(CACHE ODOMIRA_DEBIAN_BUILDFLAGS PROPERTY STRINGS AUTO ON OFF)

find_program(ODOMIRA_DPKG_BUILDFLAGS dpkg-buildflags
             DOC "Debian's compiler flags (Debian package dpkg-dev; scripts/setup)")

set(_odomira_buildflags ${ODOMIRA_DEBIAN_BUILDFLAGS})
if(_odomira_buildflags STREQUAL "AUTO")
    string(TOUPPER "${CMAKE_BUILD_TYPE}" _odomira_type)
    if(ODOMIRA_DPKG_BUILDFLAGS AND _odomira_type MATCHES "^(RELWITHDEBINFO|RELEASE|MINSIZEREL)$"
       AND NOT (ODOMIRA_ASAN OR ODOMIRA_TSAN OR ODOMIRA_FUZZ))
        set(_odomira_buildflags ON)
    else()
        set(_odomira_buildflags OFF)
    endif()
endif()

set(ODOMIRA_HARDENED 0)
if(_odomira_buildflags)
    set(ODOMIRA_HARDENED 1)
    if(NOT ODOMIRA_DPKG_BUILDFLAGS)
        message(FATAL_ERROR "ODOMIRA_DEBIAN_BUILDFLAGS is ON, but dpkg-buildflags is missing: "
                            "install the Debian package dpkg-dev (scripts/setup does)")
    endif()
    if(DEFINED ENV{DEB_BUILD_MAINT_OPTIONS})
        set(_odomira_options "$ENV{DEB_BUILD_MAINT_OPTIONS}")
    else()
        set(_odomira_options "hardening=+all reproducible=-fixfilepath,-fixdebugpath")
    endif()
    set(ODOMIRA_HARDENING_FLAGS)
    foreach(kind CPPFLAGS CFLAGS CXXFLAGS LDFLAGS)
        execute_process(
            COMMAND ${CMAKE_COMMAND} -E env "DEB_BUILD_MAINT_OPTIONS=${_odomira_options}"
                    ${ODOMIRA_DPKG_BUILDFLAGS} --get ${kind}
            OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
        if(failed)
            message(FATAL_ERROR "dpkg-buildflags --get ${kind} failed")
        endif()
        separate_arguments(flags UNIX_COMMAND "${flags}")
        list(FILTER flags EXCLUDE REGEX "^-(O.*|g.*)$")
        set(_odomira_${kind} ${flags})
        list(APPEND ODOMIRA_HARDENING_FLAGS ${flags})
    endforeach()
    add_compile_options(${_odomira_CPPFLAGS})
    foreach(language C CXX)
        foreach(flag IN LISTS _odomira_${language}FLAGS)
            add_compile_options("$<$<COMPILE_LANGUAGE:${language}>:${flag}>")
        endforeach()
    endforeach()
    add_link_options(${_odomira_LDFLAGS})
    list(REMOVE_DUPLICATES ODOMIRA_HARDENING_FLAGS)
    message(STATUS "Debian hardening flags: ${ODOMIRA_HARDENING_FLAGS}")
endif()
