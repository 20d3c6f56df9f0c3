# cpack (scripts/package.sh): one Debian package of the installed tree. The
# dependencies on shared libraries are named by dpkg-shlibdeps from what the
# programs actually link; the rest are what they need at run time without
# linking it: the session bus, Qt's platform plugins for the reader's window,
# and its SVG icon plugin.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The ORVO developers")
set(CPACK_PACKAGE_CONTACT "The ORVO developers <orvo@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop news collector with an offline reader")
set(CPACK_PACKAGE_DESCRIPTION
  "ORVO downloads the latest news from a catalogue of news sites, extracts each item with per-site masks, "
  "stores it in a local database, lets you read, search and filter it offline in Newsdesk, turns what your "
  "filters choose into eBook volumes, and does all this on your schedules.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "dbus, qt6-qpa-plugins, libqt6svg6, qt6-image-formats-plugins")
# Qt's own texts (standard buttons, file dialogs) in the reader's languages.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "calibre")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
include(CPack)
