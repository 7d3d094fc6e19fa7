# Debian package of the tool: the binary, its manual page, the copyright file
# and the changelog (the install component "runtime"), for the architecture the
# build compiles for. The presets "debian" and "debian-arm64" build it with
# Debian's flags: `cmake --workflow --preset debian-arm64`.

set(PICSERIES_MAINTAINER "picseries maintainers <maintainers@users.noreply.c-seed-61bfe3d8.example>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME picseries)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "numbered series of still pictures from the camera")
set(CPACK_PACKAGE_DESCRIPTION
    "picseries takes one still picture with the camera of a Linux board and files
it as the next picture of a numbered series in a directory: Pic_1.jpg,
Pic_2.jpg, and so on. Each run scans the directory afresh, has the camera
stack's still program take a 1024 x 768 picture under the next number, and
tells its caller by its exit status whether the picture is there, which
suits runs from cron or a systemd timer.

The still program, rpicam-still (or libcamera-still, its old name), must be
on the PATH.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${PICSERIES_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "rpicam-apps-core | rpicam-apps-lite | rpicam-apps | libcamera-apps-lite | libcamera-apps")
# packaging-stage.cmake strips the binaries itself, as Debian does.
set(CPACK_STRIP_FILES OFF)
set(CPACK_PICSERIES_STRIP "${CMAKE_STRIP}")

# Only the runtime component: whatever else the tree may install (the camera
# stand-in, tests, tools for developers) stays out of the package.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};runtime;/")

# A cross toolchain names the Debian architecture it compiles for; without
# one, CPack asks dpkg, which answers for this machine.
if(PICSERIES_DEBIAN_ARCHITECTURE)
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "${PICSERIES_DEBIAN_ARCHITECTURE}")
elseif(CMAKE_CROSSCOMPILING)
    message(WARNING "This cross build's Debian package would be labelled with this machine's "
        "architecture: set PICSERIES_DEBIAN_ARCHITECTURE in the toolchain file.")
endif()
set(CPACK_PROJECT_CONFIG_FILE "${CMAKE_CURRENT_LIST_DIR}/packaging-config.cmake")
# `cmake --install` leaves the binary, the manual page and the changelog as
# they are; the package strips and compresses them.
set(CPACK_PRE_BUILD_SCRIPTS "${CMAKE_CURRENT_LIST_DIR}/packaging-stage.cmake")

include(CPack)
