# Read by cpack while it packs. dpkg-shlibdeps, which works out the Depends
# field, takes the package's architecture from DEB_HOST_ARCH when that is set:
# for a cross build it then reads the binary with that architecture's objdump
# and searches that architecture's multiarch library directories, rather than
# relying on this machine's objdump and ld.so.conf to cope with a foreign
# binary.
if(CPACK_DEBIAN_PACKAGE_ARCHITECTURE)
    set(ENV{DEB_HOST_ARCH} "${CPACK_DEBIAN_PACKAGE_ARCHITECTURE}")
endif()
