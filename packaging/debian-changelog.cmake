# Writes CHANGELOG.md in the form Debian expects of a native package's
# changelog (usr/share/doc/PACKAGE/changelog.gz), uncompressed:
#   cmake -DCHANGELOG=CHANGELOG.md -DOUTPUT=changelog -DPACKAGE=hornset
#         -DVERSION=1.00 -DMAINTAINER="Name <address>" -P debian-changelog.cmake
# Each section "## VERSION (YYYY-MM-DD)" becomes one entry, newest first as in
# CHANGELOG.md; its paragraphs and "- " items become the entry's "* " items.
# Fails when the newest section is not VERSION, so that a release cannot be
# packaged without its changelog entry.

foreach(variable CHANGELOG OUTPUT PACKAGE VERSION MAINTAINER)
    if(NOT DEFINED ${variable})
        message(FATAL_ERROR "debian-changelog.cmake: ${variable} is not set")
    endif()
endforeach()

# RFC 5322 date of a day (YYYY-MM-DD), at noon UTC.
function(rfc5322_date out date)
    if(NOT date MATCHES "^([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])$")
        message(FATAL_ERROR "debian-changelog.cmake: '${date}' is not a date YYYY-MM-DD")
    endif()
    set(year ${CMAKE_MATCH_1})
    math(EXPR month "1${CMAKE_MATCH_2} - 100")
    math(EXPR day "1${CMAKE_MATCH_3} - 100")
    # Day of the week by Zeller's congruence, months counted from March.
    set(y ${year})
    set(m ${month})
    if(m LESS 3)
        math(EXPR m "${m} + 12")
        math(EXPR y "${y} - 1")
    endif()
    math(EXPR h "(${day} + (13 * (${m} + 1)) / 5 + ${y} + ${y} / 4 - ${y} / 100 + ${y} / 400) % 7")
    set(weekdays Sat Sun Mon Tue Wed Thu Fri)
    list(GET weekdays ${h} weekday)
    set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
    math(EXPR month_index "${month} - 1")
    list(GET months ${month_index} month_name)
    set(${out} "${weekday}, ${CMAKE_MATCH_3} ${month_name} ${year} 12:00:00 +0000" PARENT_SCOPE)
endfunction()

# One list element per line. Semicolons and brackets, which CMake's lists
# treat specially, travel as control characters and are put back at the end.
file(READ "${CHANGELOG}" text)
string(ASCII 1 semicolon)
string(ASCII 2 open_bracket)
string(ASCII 3 close_bracket)
string(REPLACE ";" "${semicolon}" text "${text}")
string(REPLACE "[" "${open_bracket}" text "${text}")
string(REPLACE "]" "${close_bracket}" text "${text}")
string(REGEX REPLACE "\n$" "" text "${text}")
string(REPLACE "\n" ";" lines "${text}")
set(result "")
set(entry_version "")
set(entry_date "")
set(in_item OFF)

macro(close_entry)
    if(entry_version)
        rfc5322_date(stamp "${entry_date}")
        string(APPEND result "\n -- ${MAINTAINER}  ${stamp}\n")
    endif()
endmacro()

foreach(line IN LISTS lines)
    if(line MATCHES "^## +([^ ]+) +\\(([^)]*)\\) *$")
        close_entry()
        if(NOT result AND NOT CMAKE_MATCH_1 STREQUAL VERSION)
            message(FATAL_ERROR "debian-changelog.cmake: the newest section of ${CHANGELOG} is "
                                "${CMAKE_MATCH_1}, not ${VERSION}; add a section for ${VERSION}")
        endif()
        set(entry_version "${CMAKE_MATCH_1}")
        set(entry_date "${CMAKE_MATCH_2}")
        if(result)
            string(APPEND result "\n")
        endif()
        string(APPEND result "${PACKAGE} (${entry_version}) unstable; urgency=medium\n\n")
        set(in_item OFF)
    elseif(line MATCHES "^#")
        # The title and any other heading: not part of an entry.
        close_entry()
        set(entry_version "")
        set(in_item OFF)
    elseif(NOT entry_version)
        # The introduction before the first version.
    elseif(line STREQUAL "")
        set(in_item OFF)
    elseif(line MATCHES "^- +(.*)$")
        string(APPEND result "  * ${CMAKE_MATCH_1}\n")
        set(in_item ON)
    elseif(in_item)
        string(STRIP "${line}" text)
        string(APPEND result "    ${text}\n")
    else()
        string(STRIP "${line}" text)
        string(APPEND result "  * ${text}\n")
        set(in_item ON)
    endif()
endforeach()
close_entry()

if(NOT result)
    message(FATAL_ERROR "debian-changelog.cmake: ${CHANGELOG} has no section \"## VERSION (DATE)\"")
endif()
string(REPLACE "${semicolon}" ";" result "${result}")
string(REPLACE "${open_bracket}" "[" result "${result}")
string(REPLACE "${close_bracket}" "]" result "${result}")
file(WRITE "${OUTPUT}" "${result}")
