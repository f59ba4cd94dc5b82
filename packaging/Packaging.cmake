# How the program ships. On Linux a Debian package, built from debian/ as Debian builds its own
# (tools/build-package); what it holds is what this build installs, the manual page among it. On
# Windows a zip from the Windows build (cpack -G ZIP). Both have the program's version
# (window/ProgramIdentity.h).
include(GNUInstallDirs)
if(NOT WIN32)
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/quindral.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    return()
endif()

set(CPACK_PACKAGE_VERSION ${QUINDRAL_VERSION})
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

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Quindral)
set(CPACK_PACKAGE_FILE_NAME Quindral-${CPACK_PACKAGE_VERSION}-win64)
# Windows line endings, for Notepad and its kin.
configure_file(${CMAKE_CURRENT_LIST_DIR}/README-windows.txt ${PROJECT_BINARY_DIR}/README.txt
               @ONLY NEWLINE_STYLE CRLF)
install(FILES ${PROJECT_BINARY_DIR}/README.txt DESTINATION .)
include(CPack)
