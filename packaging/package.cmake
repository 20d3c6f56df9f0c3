# cpack (scripts/package.sh): one Debian package of the installed tree. The
# dependencies on shared libraries are named by dpkg-shlibdeps from what the
# programs actually link; the rest are what they need at run time without
# linking it: the session bus, Qt's platform plugins for the reader's window,
# and its SVG icon plugin.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The ORVO developers")
set(CPACK_PACKAGE_CONTACT "The ORVO developers <maintainers@orvo.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop news collector with an offline reader")
# One string (several would be joined with ";") in lines the control file
# keeps as they are: CPack does not wrap them.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "ORVO downloads the latest news from a catalogue of news sites or from the\n"
  "sites and feeds you add, extracts each item with per-site masks or automatic\n"
  "extraction, and stores it in a local database. Newsdesk, its reader, lists,\n"
  "searches and filters the news offline. What your filters choose becomes EPUB\n"
  "or .lit eBook volumes, and Timekeeper runs downloads and eBook runs on your\n"
  "schedules.")
set(CPACK_PACKAGE_HOMEPAGE_URL ${PROJECT_HOMEPAGE_URL})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "dbus, qt6-qpa-plugins, libqt6svg6, qt6-image-formats-plugins, libsecret-1-0, libpq5")
# Qt's own texts (standard buttons, file dialogs) in the reader's languages.
# The systemd user unit of Timekeeper needs the user's bus to be systemd's.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, dbus-user-session")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "calibre")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
include(CPack)
