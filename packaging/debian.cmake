# The Debian package, made by CPack in the build folder (cpack -G DEB):
# tavrin_<version>-1_<arch>.deb, installing below /usr. The program folder
# /usr/lib/tavrin is root's alone; each user's history goes to their own
# state folder. Configure with -DCMAKE_INSTALL_PREFIX=/usr for it.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavrin)
set(CPACK_PACKAGE_VENDOR Tavrin)
set(CPACK_PACKAGE_CONTACT "Tavrin developers <tavrin@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "rename the files of a folder in one batch")
set(CPACK_PACKAGE_DESCRIPTION
    "Tavrin renames, in one batch, the files of one folder that share an\n"
    "extension: to a base name followed by a sequence or random number, or to\n"
    "a new extension only. It records every old and new name before it\n"
    "renames, so that the last run can be undone.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the program links come from dpkg-shlibdeps; Qt loads the rest
# at run time: its platform plugins, its Japanese translation, and a Gothic font
# for the windows' Japanese texts.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-translations-l10n, fonts-ipafont-gothic")

# Debian's summary of the licence, beside the licence files the install puts
# there, and the package's change log, dated by the commit as the metadata is.
install(FILES copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tavrin)
execute_process(COMMAND date -u -R -d "${release_date}" OUTPUT_VARIABLE changelog_date
                OUTPUT_STRIP_TRAILING_WHITESPACE)
configure_file(changelog.Debian.in ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian @ONLY)
set(changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian.gz)
add_custom_command(OUTPUT ${changelog}
    COMMAND gzip -9nc ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian > ${changelog}
    DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian
    COMMENT "changelog.Debian.gz")
add_custom_target(tavrin_changelog ALL DEPENDS ${changelog})
install(FILES ${changelog} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tavrin)

include(CPack)
