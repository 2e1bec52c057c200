# cpack -G DEB: a Debian package that installs under /usr. Its dependencies on
# shared libraries are read from the programs by dpkg-shlibdeps, so they are
# the libraries actually linked, at the versions this machine built against.
set(CPACK_PACKAGE_NAME weblumifang)
set(CPACK_PACKAGE_VENDOR Quenbrik)
set(CPACK_PACKAGE_CONTACT "Quenbrik <weblumifang@quenbrik.de>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "collects pictures from web sites and browses them")
set(CPACK_PACKAGE_DESCRIPTION "Web Lumifang crawls a web site for pictures with its own HTTP client,
lists every linked picture, and downloads the list into a folder. A second
window shows the pictures of any folder as thumbnails, with a viewer and
printing. weblumifang-cli runs the same scan and download without a window.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${PROJECT_HOMEPAGE_URL})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so no linked library names them: Qt's window-system
# plugins (without them the window cannot open), the trust store for https.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, ca-certificates")
# German texts of Qt's own dialogs; xdg-open behind "open with".
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, xdg-utils")
# Folders the package shares with the system get the usual permissions.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
