# Run by cpack on the staged files, before it packs them, to give them the
# shape that Debian's own package tools (dh_strip, dh_compress) give theirs.

# The binaries lose their debugging symbols and the .comment and .note
# sections, which hold only the names of the tools that built them: the same
# strip as dh_strip's for a program.
file(GLOB programs "${CPACK_TEMPORARY_DIRECTORY}/*/bin/*")
foreach(program IN LISTS programs)
    execute_process(
        COMMAND "${CPACK_PICSERIES_STRIP}" --remove-section=.comment --remove-section=.note "${program}"
        COMMAND_ERROR_IS_FATAL ANY)
endforeach()

# Manual pages and the changelog are compressed with gzip -9n: no name, no
# time stamp, so that the package comes out the same from the same sources.
file(GLOB_RECURSE pages "${CPACK_TEMPORARY_DIRECTORY}/*/share/man/man[1-9]/*.[1-9]")
file(GLOB changelogs "${CPACK_TEMPORARY_DIRECTORY}/*/share/doc/*/changelog")
foreach(file IN LISTS pages changelogs)
    execute_process(COMMAND gzip -9nf "${file}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
