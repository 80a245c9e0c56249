# The release notes' reader and what is made from them (cmake/OdomiraRelease.cmake):
#   cmake -DSOURCE=<checkout> -DWORK=<scratch folder> -P release-notes.cmake
# With -DNEWS=<file> it only reads that file, for the cases that must stop.
cmake_minimum_required(VERSION 3.25)
include(${SOURCE}/cmake/OdomiraRelease.cmake)
if(DEFINED NEWS)
    odomira_read_news(${NEWS})
    return()
endif()

set(failures 0)
function(expect_equal actual expected what)
    if(NOT actual STREQUAL expected)
        message(SEND_ERROR "${what}:\n  got      [${actual}]\n  expected [${expected}]")
    endif()
endfunction()

# Days since 1970 across leap days and the century rule; the expected values are
# date -u -d D +%s divided by 86400.
foreach(case "1970 1 1 0" "1999 12 31 10956" "2000 2 29 11016" "2000 3 1 11017"
             "2024 2 29 19782" "2024 3 1 19783" "2026 12 9 20796" "2100 3 1 47541")
    separate_arguments(case)
    list(GET case 0 y)
    list(GET case 1 m)
    list(GET case 2 d)
    list(GET case 3 expected)
    _odomira_days_since_epoch(${y} ${m} ${d} days)
    expect_equal("${days}" "${expected}" "days since 1970 of ${y}-${m}-${d}")
endforeach()

# Two releases, newest first, with a continued note, a semicolon and XML's own characters.
file(WRITE ${WORK}/NEWS "Release notes\n=============\n\nOdomira 1.1.0 (2024-02-29)\n\n"
                        "  * One; two & <three>\n    continued.\n  * Second.\n\n"
                        "Odomira 1.0.0 (2000-03-01)\n\n  * First.\n")
odomira_read_news(${WORK}/NEWS)
expect_equal("${ODOMIRA_NEWS_VERSIONS}" "1.1.0;1.0.0" "versions")
expect_equal("${ODOMIRA_NEWS_1.1.0_DATE}" "2024-02-29" "date of 1.1.0")
odomira_write_debian_changelog(${WORK}/changelog odomira "A B <a@example.org>")
file(READ ${WORK}/changelog changelog)
string(CONCAT expected
       "odomira (1.1.0) unstable; urgency=medium\n\n  * One; two & <three>\n    continued.\n"
       "  * Second.\n\n -- A B <a@example.org>  Thu, 29 Feb 2024 00:00:00 +0000\n\n"
       "odomira (1.0.0) unstable; urgency=medium\n\n  * First.\n\n"
       " -- A B <a@example.org>  Wed, 01 Mar 2000 00:00:00 +0000\n")
expect_equal("${changelog}" "${expected}" "Debian changelog")
odomira_appstream_releases(xml)
string(CONCAT expected
       "    <release version=\"1.1.0\" date=\"2024-02-29\">\n      <description>\n        <ul>\n"
       "          <li>One; two &amp; &lt;three&gt; continued.</li>\n"
       "          <li>Second.</li>\n        </ul>\n      </description>\n    </release>\n"
       "    <release version=\"1.0.0\" date=\"2000-03-01\">\n      <description>\n        <ul>\n"
       "          <li>First.</li>\n        </ul>\n      </description>\n    </release>")
expect_equal("${xml}" "${expected}" "AppStream releases")

# What does not follow the format stops the configuration and names the line.
foreach(case "Odomira 1.0 (2024-13-01)\n  * x\n|NEWS:1: not a date"
             "Odomira 1.0 (2024-01-01)\nstray words\n|NEWS:2: neither"
             "Odomira 1.0 (2024-01-01)\n    a continuation first\n|NEWS:2: neither"
             "Odomira 1.0 (2024-01-01)\n\n|has no notes"
             "Odomira 1.0 (2024-01-01)\n  * x\nOdomira 1.0 (2024-01-02)\n  * y\n|NEWS:3: a second entry")
    string(FIND "${case}" "|" bar)
    string(SUBSTRING "${case}" 0 ${bar} text)
    math(EXPR bar "${bar} + 1")
    string(SUBSTRING "${case}" ${bar} -1 expected)
    file(WRITE ${WORK}/bad/NEWS "${text}")
    execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE=${SOURCE} -DNEWS=${WORK}/bad/NEWS
                            -P ${CMAKE_CURRENT_LIST_FILE}
                    RESULT_VARIABLE failed ERROR_VARIABLE error)
    # CMake wraps its messages where the path's length happens to put the break.
    string(REGEX REPLACE "[ \n]+" " " error "${error}")
    if(NOT failed OR NOT error MATCHES "${expected}")
        message(SEND_ERROR "NEWS [${text}] was not refused with '${expected}': ${error}")
    endif()
endforeach()
