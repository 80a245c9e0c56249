# The release notes in NEWS: the newest entry must be for the project's version, and
# gives the release date (ODOMIRA_RELEASE_DATE, YYYY-MM-DD) that the manual pages and
# the AppStream data show. The Debian changelog and the AppStream release list are made
# from the whole file, so no second copy of a note can drift from the first.
#
# An entry:
#   Odomira 1.0.0 (2026-12-09)
#
#     * A note, continued on lines
#       indented by four spaces.

# Days since 1970-01-01 of a proleptic Gregorian date (the civil-from-days inverse as
# published by H. Hinnant), since CMake has no date arithmetic of its own.
function(_odomira_days_since_epoch year month day out)
    if(month LESS_EQUAL 2)
        math(EXPR year "${year} - 1")
        math(EXPR shifted "${month} + 9")
    else()
        math(EXPR shifted "${month} - 3")
    endif()
    math(EXPR era "${year} / 400")
    math(EXPR yoe "${year} - ${era} * 400")
    math(EXPR doy "(153 * ${shifted} + 2) / 5 + ${day} - 1")
    math(EXPR doe "${yoe} * 365 + ${yoe} / 4 - ${yoe} / 100 + ${doy}")
    math(EXPR days "${era} * 146097 + ${doe} - 719468")
    set(${out} ${days} PARENT_SCOPE)
endfunction()

# Sets ODOMIRA_NEWS_VERSIONS (newest first) and, per version V, ODOMIRA_NEWS_<V>_DATE and
# ODOMIRA_NEWS_<V>_LINES (the note lines as written). Stops the configuration at the
# first line that does not follow the format, naming it.
function(odomira_read_news file)
    file(STRINGS ${file} lines ENCODING UTF-8)
    set(versions)
    set(version)
    set(number 0)
    foreach(line IN LISTS lines)
        math(EXPR number "${number} + 1")
        string(LENGTH "${line}" length)
        if(length GREATER 80)
            # The Debian changelog takes the lines as they are and allows 80 columns.
            message(FATAL_ERROR "${file}:${number}: longer than 80 characters")
        endif()
        if(line MATCHES "^Odomira ([0-9]+(\\.[0-9]+)*) \\(([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])\\)$")
            set(version ${CMAKE_MATCH_1})
            if(version IN_LIST versions)
                message(FATAL_ERROR "${file}:${number}: a second entry for ${version}")
            endif()
            if(CMAKE_MATCH_4 LESS 1 OR CMAKE_MATCH_4 GREATER 12 OR CMAKE_MATCH_5 LESS 1
               OR CMAKE_MATCH_5 GREATER 31)
                message(FATAL_ERROR "${file}:${number}: not a date: ${CMAKE_MATCH_3}-${CMAKE_MATCH_4}-${CMAKE_MATCH_5}")
            endif()
            list(APPEND versions ${version})
            set(date_${version} "${CMAKE_MATCH_3}-${CMAKE_MATCH_4}-${CMAKE_MATCH_5}")
            set(lines_${version})
        elseif("${version}" STREQUAL "" OR "${line}" STREQUAL "")
            # The file's own heading, and blank lines anywhere.
        elseif(line MATCHES "^  \\* [^ ]" OR (lines_${version} AND line MATCHES "^    [^ ]"))
            # A semicolon of the text must not split the list.
            string(REPLACE ";" "\\;" line "${line}")
            list(APPEND lines_${version} "${line}")
        else()
            message(FATAL_ERROR "${file}:${number}: neither \"Odomira VERSION (YYYY-MM-DD)\", "
                                "a note \"  * ...\" nor its continuation \"    ...\"")
        endif()
    endforeach()
    foreach(version IN LISTS versions)
        if(NOT lines_${version})
            message(FATAL_ERROR "${file}: the entry for ${version} has no notes")
        endif()
        set(ODOMIRA_NEWS_${version}_DATE ${date_${version}} PARENT_SCOPE)
        set(ODOMIRA_NEWS_${version}_LINES "${lines_${version}}" PARENT_SCOPE)
    endforeach()
    set(ODOMIRA_NEWS_VERSIONS ${versions} PARENT_SCOPE)
endfunction()

# Writes the Debian changelog of the source package `package`, one entry per release.
function(odomira_write_debian_changelog out package maintainer)
    set(text)
    foreach(version IN LISTS ODOMIRA_NEWS_VERSIONS)
        string(REPLACE "-" ";" ymd ${ODOMIRA_NEWS_${version}_DATE})
        list(GET ymd 0 year)
        list(GET ymd 1 month)
        list(GET ymd 2 day)
        # Leading zeros would make math() read octal.
        string(REGEX REPLACE "^0" "" month ${month})
        string(REGEX REPLACE "^0" "" day ${day})
        _odomira_days_since_epoch(${year} ${month} ${day} days)
        math(EXPR epoch "${days} * 86400")
        # string(TIMESTAMP) formats SOURCE_DATE_EPOCH when it is set: the one way to get
        # the weekday and month names of an arbitrary date.
        set(saved "$ENV{SOURCE_DATE_EPOCH}")
        set(ENV{SOURCE_DATE_EPOCH} ${epoch})
        string(TIMESTAMP when "%a, %d %b %Y 00:00:00 +0000" UTC)
        set(ENV{SOURCE_DATE_EPOCH} "${saved}")
        set(notes)
        foreach(line IN LISTS ODOMIRA_NEWS_${version}_LINES)
            string(APPEND notes "${line}\n")
        endforeach()
        string(APPEND text "${package} (${version}) unstable; urgency=medium\n\n${notes}\n"
                           " -- ${maintainer}  ${when}\n\n")
    endforeach()
    string(REGEX REPLACE "\n\n$" "\n" text "${text}")
    # Rewritten only when it changes, so a new configuration rebuilds nothing.
    file(WRITE ${out}.new "${text}")
    file(COPY_FILE ${out}.new ${out} ONLY_IF_DIFFERENT)
    file(REMOVE ${out}.new)
endfunction()

# The AppStream <release> elements, newest first, each note one list item.
function(odomira_appstream_releases out)
    set(xml)
    foreach(version IN LISTS ODOMIRA_NEWS_VERSIONS)
        set(items)
        set(item)
        foreach(line IN LISTS ODOMIRA_NEWS_${version}_LINES)
            if(line MATCHES "^  \\* (.*)$")
                if(item)
                    string(REPLACE ";" "\\;" item "${item}")
                    list(APPEND items "${item}")
                endif()
                set(item "${CMAKE_MATCH_1}")
            else()
                string(STRIP "${line}" line)
                string(APPEND item " ${line}")
            endif()
        endforeach()
        string(REPLACE ";" "\\;" item "${item}")
        list(APPEND items "${item}")
        string(APPEND xml "    <release version=\"${version}\" date=\"${ODOMIRA_NEWS_${version}_DATE}\">\n"
                          "      <description>\n        <ul>\n")
        foreach(item IN LISTS items)
            string(REPLACE "&" "&amp;" item "${item}")
            string(REPLACE "<" "&lt;" item "${item}")
            string(REPLACE ">" "&gt;" item "${item}")
            string(APPEND xml "          <li>${item}</li>\n")
        endforeach()
        string(APPEND xml "        </ul>\n      </description>\n    </release>\n")
    endforeach()
    string(REGEX REPLACE "\n$" "" xml "${xml}")
    set(${out} "${xml}" PARENT_SCOPE)
endfunction()

# A script (cmake -P) includes this file for its functions alone.
if(CMAKE_SCRIPT_MODE_FILE)
    return()
endif()
set(ODOMIRA_NEWS_FILE ${CMAKE_CURRENT_SOURCE_DIR}/NEWS)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ODOMIRA_NEWS_FILE})
odomira_read_news(${ODOMIRA_NEWS_FILE})
if(NOT ODOMIRA_NEWS_VERSIONS)
    message(FATAL_ERROR "NEWS: no entry \"Odomira VERSION (YYYY-MM-DD)\"")
endif()
list(GET ODOMIRA_NEWS_VERSIONS 0 _odomira_newest)
if(NOT _odomira_newest STREQUAL PROJECT_VERSION)
    message(FATAL_ERROR "NEWS: the newest entry is for ${_odomira_newest}, the project's "
                        "version is ${PROJECT_VERSION}: add the release's entry at the top")
endif()
set(ODOMIRA_RELEASE_DATE ${ODOMIRA_NEWS_${PROJECT_VERSION}_DATE})
