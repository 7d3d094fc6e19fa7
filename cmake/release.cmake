# What a release is made of besides the program: the Debian changelog, whose
# top entry must name the version that project() gives; the manual page,
# stamped with that version and the date of that entry (not the build's, so
# the same sources give the same page); and the copyright file in Debian's
# machine-readable format, made from LICENSE.

set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    "${PROJECT_SOURCE_DIR}/changelog" "${PROJECT_SOURCE_DIR}/LICENSE")

file(READ "${PROJECT_SOURCE_DIR}/changelog" changelog)
if(NOT changelog MATCHES "^${PROJECT_NAME} \\(([^)]+)\\)")
    message(FATAL_ERROR "changelog: the top entry does not start with \"${PROJECT_NAME} (VERSION)\"")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
    message(FATAL_ERROR "changelog: the top entry is for ${CMAKE_MATCH_1}, but project() gives "
        "${PROJECT_VERSION}: add an entry for ${PROJECT_VERSION} at the top of changelog.")
endif()
# The trailer line of the top entry, such as
# " -- Name <address>  Tue, 08 Dec 2026 14:58:00 +0000".
if(NOT changelog MATCHES
        "\n -- [^\n]*>  [A-Z][a-z][a-z], ([0-9][0-9]?) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
    message(FATAL_ERROR "changelog: the top entry has no trailer line with an RFC 5322 date")
endif()
set(day "${CMAKE_MATCH_1}")
set(year "${CMAKE_MATCH_3}")
set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND months "${CMAKE_MATCH_2}" month)
if(month EQUAL -1)
    message(FATAL_ERROR "changelog: the top entry's date has no month called ${CMAKE_MATCH_2}")
endif()
math(EXPR month "${month} + 1")
if(month LESS 10)
    string(PREPEND month 0)
endif()
string(LENGTH "${day}" length)
if(length EQUAL 1)
    string(PREPEND day 0)
endif()
set(PICSERIES_RELEASE_DATE "${year}-${month}-${day}")

configure_file("${PROJECT_SOURCE_DIR}/man/picseries.1" "${PROJECT_BINARY_DIR}/man/picseries.1" @ONLY)

# LICENSE holds one "Copyright (c) YEAR HOLDER" line, then the licence text
# from "Permission is hereby granted" on; DEP-5 wants that text indented by
# one space, with "." for its empty lines.
file(READ "${PROJECT_SOURCE_DIR}/LICENSE" licence)
string(FIND "${licence}" "Permission is hereby granted" start)
if(NOT licence MATCHES "\nCopyright \\(c\\) ([^\n]+)\n" OR start EQUAL -1)
    message(FATAL_ERROR "LICENSE: no \"Copyright (c)\" line or no MIT licence text")
endif()
set(PICSERIES_COPYRIGHT "${CMAKE_MATCH_1}")
string(SUBSTRING "${licence}" ${start} -1 licence)
string(STRIP "${licence}" licence)
string(REPLACE "\n\n" "\n.\n" licence "${licence}")
string(REPLACE "\n" "\n " PICSERIES_LICENCE_TEXT " ${licence}")
file(CONFIGURE OUTPUT "${PROJECT_BINARY_DIR}/copyright" @ONLY CONTENT
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: @PROJECT_NAME@

Files: *
Copyright: @PICSERIES_COPYRIGHT@
License: Expat
@PICSERIES_LICENCE_TEXT@
")

install(FILES "${PROJECT_BINARY_DIR}/man/picseries.1"
    DESTINATION "${CMAKE_INSTALL_MANDIR}/man1" COMPONENT runtime)
install(FILES "${PROJECT_BINARY_DIR}/copyright" changelog
    DESTINATION "${CMAKE_INSTALL_DOCDIR}" COMPONENT runtime)
