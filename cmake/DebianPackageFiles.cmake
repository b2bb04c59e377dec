# Run by CPack (CPACK_PRE_BUILD_SCRIPTS, set in Packaging.cmake) on the
# files staged for the .deb, before it packs them. It gives the package what
# Debian asks of it beyond `cmake --install`:
# - the manual page compressed with gzip -9n (best compression, and no file
#   name or time stamp inside, so the same page always gives the same bytes);
# - the copyright file and the changelog among the documents, the changelog
#   compressed the same way. The version has no Debian revision, which makes
#   this a native package, whose changelog is changelog.gz.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
    return()
endif()

set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(doc "${root}/${CPACK_VANTREL_DOC_DIR}")

function(gzip_best file)
    execute_process(COMMAND gzip -9nf "${file}" RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "gzip -9n ${file} failed: ${status}")
    endif()
endfunction()

gzip_best("${root}/${CPACK_VANTREL_MAN_DIR}/man1/vantrel-convert.1")
file(COPY "${CPACK_VANTREL_DEBIAN_DIR}/copyright" "${CPACK_VANTREL_DEBIAN_DIR}/changelog"
     DESTINATION "${doc}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
gzip_best("${doc}/changelog")
