# Installation and packages. `cmake --install` puts the command-line tool,
# its manual page, its bash completion and the documents in the GNU layout
# on Linux, and both programs and the Windows documents (README.txt,
# LICENSE.txt, THIRD-PARTY-NOTICES.txt) in one flat folder on Windows.
# CPack makes a .deb of the tool on Linux and a .zip on Windows
# (vantrel-<version>-win32 or -win64); scripts/package.sh runs it for each
# build.
include(GNUInstallDirs)

# The maintainer, for the package and its changelog alike.
set(VANTREL_MAINTAINER "The Vantrel developers <developers@vantrel.example>")
# The documents of the Linux installation and package.
set(VANTREL_DOCUMENTS ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
                      ${PROJECT_SOURCE_DIR}/packaging/THIRD-PARTY-NOTICES.txt)

set(CPACK_PACKAGE_VENDOR "The Vantrel developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)

# Copies a text file with CR LF line ends, as Windows' editors expect; the
# text is otherwise unchanged. The copy is made again when the source
# changes.
function(vantrel_crlf_copy source destination)
    file(READ ${source} text)
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE ${destination} "${text}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
endfunction()

if(WIN32)
    install(TARGETS Vantrel vantrel-convert RUNTIME DESTINATION .)
    # The documents for Windows: a README of its own (the repository's is
    # about building on Linux), the licence and the notices, all as .txt
    # files with CR LF line ends.
    set(documents ${CMAKE_CURRENT_BINARY_DIR}/windows-documents)
    vantrel_crlf_copy(${PROJECT_SOURCE_DIR}/packaging/README.txt ${documents}/README.txt)
    vantrel_crlf_copy(${PROJECT_SOURCE_DIR}/LICENSE ${documents}/LICENSE.txt)
    vantrel_crlf_copy(${PROJECT_SOURCE_DIR}/packaging/THIRD-PARTY-NOTICES.txt
                      ${documents}/THIRD-PARTY-NOTICES.txt)
    install(FILES ${documents}/README.txt ${documents}/LICENSE.txt
                  ${documents}/THIRD-PARTY-NOTICES.txt DESTINATION .)

    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(bits 64)
    else()
        set(bits 32)
    endif()
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_NAME vantrel)
    # The file name is also the one folder at the top of the archive.
    set(CPACK_PACKAGE_FILE_NAME vantrel-${PROJECT_VERSION}-win${bits})
    set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
    # The package's dependencies on linked libraries come from
    # dpkg-shlibdeps; CPack without it would quietly make a package that
    # depends on nothing.
    find_program(VANTREL_DPKG_SHLIBDEPS dpkg-shlibdeps REQUIRED)

    set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/vantrel-convert)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/vantrel-convert.1.in vantrel-convert.1 @ONLY)
    install(TARGETS vantrel-convert RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/vantrel-convert.1
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/vantrel-convert.bash
            DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
            RENAME vantrel-convert)
    install(FILES ${VANTREL_DOCUMENTS} DESTINATION ${doc_dir})

    # Debian's copyright file, with the licence text and holder taken from
    # LICENSE, and the changelog; cmake/DebianPackageFiles.cmake adds them
    # to the package.
    file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE license_lines)
    set(VANTREL_COPYRIGHT_HOLDER)
    set(VANTREL_LICENSE_TEXT)
    foreach(line IN LISTS license_lines)
        if(line MATCHES "^Copyright \\(c\\) (.*)$")
            set(VANTREL_COPYRIGHT_HOLDER ${CMAKE_MATCH_1})
        elseif(VANTREL_COPYRIGHT_HOLDER)
            if(line STREQUAL "")
                string(APPEND VANTREL_LICENSE_TEXT "\n .")
            else()
                string(APPEND VANTREL_LICENSE_TEXT "\n ${line}")
            endif()
        endif()
    endforeach()
    string(REGEX REPLACE "^\n \\.\n" "" VANTREL_LICENSE_TEXT "${VANTREL_LICENSE_TEXT}")
    configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/copyright.in debian/copyright @ONLY)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in debian/changelog @ONLY)

    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGE_NAME vantrel-convert)
    set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
        "pack Kestrane Server commands into MIDI System Exclusive messages")
    set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
        "vantrel-convert turns Kestrane Server commands (those that begin with the\n"
        "keyword set) into MIDI System Exclusive messages. It prints them as\n"
        "hexadecimal text, writes them as a raw byte stream for .syx files, or\n"
        "sends them straight to a MIDI output port of the ALSA sequencer or of a\n"
        "JACK server. It also reads messages back into commands.\n"
        "\n"
        "It converts its arguments or standard input line by line, for scripts and\n"
        "pipelines, and is the command-line companion of the Vantrel dialog for\n"
        "Windows.")
    string(JOIN "" CPACK_DEBIAN_PACKAGE_DESCRIPTION ${CPACK_DEBIAN_PACKAGE_DESCRIPTION})
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VANTREL_MAINTAINER})
    set(CPACK_DEBIAN_PACKAGE_SECTION sound)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # libasound and libjack are opened with dlopen when a run first needs
    # them (midi/PlatformLibrary.h), which dpkg-shlibdeps cannot see: Depends
    # holds only what every run needs, and these are named by hand. ALSA's
    # sequencer is in every Linux system, JACK is for those who run its
    # server.
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libasound2 (>= 1.0.16)")
    set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libjack-jackd2-0 (>= 1.9.10+20150825) | libjack-0.125")
    set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
    set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/DebianPackageFiles.cmake)
    set(CPACK_VANTREL_DEBIAN_DIR ${CMAKE_CURRENT_BINARY_DIR}/debian)
    set(CPACK_VANTREL_DOC_DIR ${doc_dir})
    set(CPACK_VANTREL_MAN_DIR ${CMAKE_INSTALL_MANDIR})
endif()

include(CPack)
