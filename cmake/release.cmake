# The manual page is stamped with the version and the date of the top entry of
# debian/changelog, not with the build's, so the same sources give the same
# page; that version must be the one project() gives.
#
# dpkg-parsechangelog (dpkg-dev) reads the entry. Where SOURCE_DATE_EPOCH is
# set, as dpkg-buildpackage sets it from that same entry, it gives the date.
# The development presets also build where dpkg-dev is missing: the version
# then comes from the changelog's first line and the date is today's.

set(changelog "${PROJECT_SOURCE_DIR}/debian/changelog")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${changelog}")

find_program(PICSERIES_DPKG_PARSECHANGELOG dpkg-parsechangelog)
mark_as_advanced(PICSERIES_DPKG_PARSECHANGELOG)

# Sets ${out} to the field of the changelog's top entry that dpkg-parsechangelog
# shows as ${field}.
function(picseries_changelog_field field out)
    execute_process(
        COMMAND "${PICSERIES_DPKG_PARSECHANGELOG}" -l "${changelog}" -S "${field}"
        OUTPUT_VARIABLE value
        OUTPUT_STRIP_TRAILING_WHITESPACE
        COMMAND_ERROR_IS_FATAL ANY)
    set(${out} "${value}" PARENT_SCOPE)
endfunction()

if(PICSERIES_DPKG_PARSECHANGELOG)
    picseries_changelog_field(Version version)
    if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
        picseries_changelog_field(Timestamp timestamp)
    endif()
else()
    file(STRINGS "${changelog}" first_line LIMIT_COUNT 1)
    if(NOT first_line MATCHES "^${PROJECT_NAME} \\(([^)]+)\\)")
        message(FATAL_ERROR "debian/changelog: the top entry does not start with \"${PROJECT_NAME} (VERSION)\"")
    endif()
    set(version "${CMAKE_MATCH_1}")
    if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
        message(STATUS "dpkg-parsechangelog not found (it comes with dpkg-dev): the manual page "
            "carries version ${version} from the first line of debian/changelog and today's date")
    endif()
endif()

if(NOT version STREQUAL PROJECT_VERSION)
    message(FATAL_ERROR "debian/changelog: the top entry is for ${version}, but project() gives "
        "${PROJECT_VERSION}: add an entry for ${PROJECT_VERSION} at the top of debian/changelog "
        "(dch -v ${PROJECT_VERSION}).")
endif()

# string(TIMESTAMP) gives the time of SOURCE_DATE_EPOCH when that is set, so
# the changelog's time goes through it.
if(DEFINED timestamp)
    set(ENV{SOURCE_DATE_EPOCH} "${timestamp}")
    string(TIMESTAMP PICSERIES_RELEASE_DATE "%Y-%m-%d" UTC)
    unset(ENV{SOURCE_DATE_EPOCH})
else()
    string(TIMESTAMP PICSERIES_RELEASE_DATE "%Y-%m-%d" UTC)
endif()

configure_file("${PROJECT_SOURCE_DIR}/man/picseries.1" "${PROJECT_BINARY_DIR}/man/picseries.1" @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/man/picseries.1"
    DESTINATION "${CMAKE_INSTALL_MANDIR}/man1" COMPONENT runtime)
