# How the program ships: a Debian package from the Linux build (cpack -G DEB), a zip from the
# Windows build (cpack -G ZIP). Both are version 1.00, as the program's version record says.
include(GNUInstallDirs)
set(CPACK_PACKAGE_VERSION 1.00)
set(CPACK_PACKAGE_VENDOR "The Quindral developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "show the root entry (rootDSE) of a directory server")
set(CPACK_STRIP_FILES ON)

# Reproducible packages: every time in them is SOURCE_DATE_EPOCH, which CPack honours, taken from
# the last commit when the environment does not set it; CPack reads this file when it runs.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackSourceDate.cmake)
file(WRITE ${CPACK_PROJECT_CONFIG_FILE} "
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
    execute_process(COMMAND git -C \"${PROJECT_SOURCE_DIR}\" log -1 --format=%ct
                    OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE git_status ERROR_QUIET)
    if(git_status EQUAL 0 AND commit_time MATCHES \"^[0-9]+$\")
        set(ENV{SOURCE_DATE_EPOCH} \${commit_time})
    endif()
endif()
")

if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_NAME Quindral)
    set(CPACK_PACKAGE_FILE_NAME Quindral-${CPACK_PACKAGE_VERSION}-win64)
    # Windows line endings, for Notepad and its kin.
    configure_file(${CMAKE_CURRENT_LIST_DIR}/README-windows.txt ${PROJECT_BINARY_DIR}/README.txt
                   @ONLY NEWLINE_STYLE CRLF)
    install(FILES ${PROJECT_BINARY_DIR}/README.txt DESTINATION .)
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGE_NAME quindral)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quindral developers <developers@quindral.example>")
    set(CPACK_DEBIAN_PACKAGE_SECTION net)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_PACKAGE_DESCRIPTION
        "Orvane asks a directory server (an Active Directory domain controller or
global catalog, or any LDAP server) for the attributes of its root entry, the
rootDSE, and shows them in a window: the server's DNS host name, its server
and service names, the naming contexts it holds and the alternative servers
it names. It finds the server as an Active Directory client does, through the
OpenLDAP client configuration or DNS SRV records, and asks several at once
when some are down. A diagnostic tool for the administrators who keep
directories running.")

    # Debian's own documentation: the copyright, and the changelog and manual page compressed as
    # policy asks (no time stamp in the gzip header, so the package builds the same every time).
    foreach(source changelog quindral.1)
        add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/${source}.gz
            COMMAND gzip -n -9 -c ${CMAKE_CURRENT_LIST_DIR}/${source} >
                    ${PROJECT_BINARY_DIR}/${source}.gz
            DEPENDS ${CMAKE_CURRENT_LIST_DIR}/${source})
    endforeach()
    add_custom_target(debian_documentation ALL
        DEPENDS ${PROJECT_BINARY_DIR}/changelog.gz ${PROJECT_BINARY_DIR}/quindral.1.gz)
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${PROJECT_BINARY_DIR}/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quindral)
    install(FILES ${PROJECT_BINARY_DIR}/quindral.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

include(CPack)
