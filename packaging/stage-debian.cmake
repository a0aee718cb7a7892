# Run by cpack once the install rules have filled the staging folder and before it makes the
# package: what Debian wants on top of a plain install. The variables are set in Debian.cmake.

set(usr "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(read_only OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
set(folders OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
    WORLD_EXECUTE)

file(COPY ${CPACK_DC_DEBIAN_DOCS} DESTINATION "${usr}/share/doc/${CPACK_PACKAGE_NAME}"
    FILE_PERMISSIONS ${read_only} DIRECTORY_PERMISSIONS ${folders})
file(MAKE_DIRECTORY "${usr}/share/lintian/overrides")
file(COPY_FILE "${CPACK_DC_LINTIAN_OVERRIDES}"
    "${usr}/share/lintian/overrides/${CPACK_PACKAGE_NAME}")
file(CHMOD "${usr}/share/lintian/overrides/${CPACK_PACKAGE_NAME}" PERMISSIONS ${read_only})

# Stripped as Debian strips programs: symbols and debugging information, and the sections
# that only say which compiler made them.
file(GLOB programs "${usr}/bin/*")
foreach(program IN LISTS programs)
    execute_process(
        COMMAND "${CPACK_DC_STRIP}" --remove-section=.comment --remove-section=.note "${program}"
        RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "could not strip ${program}")
    endif()
endforeach()
