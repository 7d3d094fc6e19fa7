# Run by cpack on the staged files, before it packs them: Debian packages
# carry their manual pages compressed with gzip -9n (no name, no time stamp,
# so that the package comes out the same from the same sources).
file(GLOB_RECURSE pages "${CPACK_TEMPORARY_DIRECTORY}/*/share/man/man[1-9]/*.[1-9]")
foreach(page IN LISTS pages)
    execute_process(COMMAND gzip -9nf "${page}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
