# Builds with the compiler and linker flags that Debian builds its packages
# with: what dpkg-buildflags gives with every hardening feature on, for the
# architecture this build compiles for. Asked at configure time, so the flags
# follow the installed dpkg's defaults rather than a copy of them; the
# DEB_*FLAGS_MAINT_APPEND and DEB_BUILD_OPTIONS of the environment still apply.
# Off by default: the development presets keep their own flags, and a packager
# whose tooling already passes CXXFLAGS and LDFLAGS (debhelper) needs none of it.
option(PICSERIES_DPKG_BUILDFLAGS
    "Add the flags dpkg-buildflags gives with DEB_BUILD_MAINT_OPTIONS=hardening=+all" OFF)

if(PICSERIES_DPKG_BUILDFLAGS)
    find_program(PICSERIES_DPKG_BUILDFLAGS_PROGRAM dpkg-buildflags REQUIRED)
    set(environment DEB_BUILD_MAINT_OPTIONS=hardening=+all)
    # A cross toolchain names the Debian architecture it builds for; without
    # one, dpkg-buildflags answers for this machine.
    if(PICSERIES_DEBIAN_ARCHITECTURE)
        list(APPEND environment DEB_HOST_ARCH=${PICSERIES_DEBIAN_ARCHITECTURE})
    endif()
    # dpkg before 1.22, Debian 12's among them, has no stackclash and no
    # branch feature, which later ones turn on with +all. Where this one lacks
    # them, append what they give through dpkg-buildflags' own interface: a
    # dpkg that has them gives them itself, and nothing is appended.
    execute_process(
        COMMAND "${CMAKE_COMMAND}" -E env ${environment}
            "${PICSERIES_DPKG_BUILDFLAGS_PROGRAM}" --query-features hardening
        OUTPUT_VARIABLE features
        COMMAND_ERROR_IS_FATAL ANY)
    execute_process(
        COMMAND "${CMAKE_COMMAND}" -E env ${environment} dpkg-architecture -qDEB_HOST_ARCH
        OUTPUT_VARIABLE host_arch
        OUTPUT_STRIP_TRAILING_WHITESPACE
        COMMAND_ERROR_IS_FATAL ANY)
    set(append "$ENV{DEB_CXXFLAGS_MAINT_APPEND}")
    if(NOT features MATCHES "Feature: stackclash" AND host_arch MATCHES "^(amd64|arm64)$")
        string(APPEND append " -fstack-clash-protection")
    endif()
    if(NOT features MATCHES "Feature: branch")
        if(host_arch STREQUAL "amd64")
            string(APPEND append " -fcf-protection")
        elseif(host_arch STREQUAL "arm64")
            string(APPEND append " -mbranch-protection=standard")
        endif()
    endif()
    string(STRIP "${append}" append)
    list(APPEND environment "DEB_CXXFLAGS_MAINT_APPEND=${append}")
    foreach(kind IN ITEMS CPPFLAGS CXXFLAGS LDFLAGS)
        # From the source directory, so that -ffile-prefix-map maps it to ".".
        execute_process(
            COMMAND "${CMAKE_COMMAND}" -E env ${environment}
                "${PICSERIES_DPKG_BUILDFLAGS_PROGRAM}" --get ${kind}
            WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}"
            OUTPUT_VARIABLE dpkg_${kind}
            OUTPUT_STRIP_TRAILING_WHITESPACE
            COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
    # CMake has no preprocessor flags of their own: like debhelper, put them
    # with the compiler's.
    string(APPEND CMAKE_CXX_FLAGS " ${dpkg_CPPFLAGS} ${dpkg_CXXFLAGS}")
    string(APPEND CMAKE_EXE_LINKER_FLAGS " ${dpkg_LDFLAGS}")
    list(JOIN environment " " settings)
    message(STATUS "dpkg-buildflags with ${settings}: "
        "CPPFLAGS ${dpkg_CPPFLAGS}; CXXFLAGS ${dpkg_CXXFLAGS}; LDFLAGS ${dpkg_LDFLAGS}")
endif()
