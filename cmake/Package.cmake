# cpack -G DEB: two Debian packages that install under /usr, weblumifang (the
# window program) and weblumifang-cli (the command line), so that a server
# that only scans and downloads needs no windowing libraries. Each package's
# dependencies on shared libraries are read from its own program by
# dpkg-shlibdeps, so they are the libraries actually linked, at the versions
# this machine built against.
set(CPACK_PACKAGE_NAME weblumifang)
set(CPACK_PACKAGE_VENDOR Quenbrik)
set(CPACK_PACKAGE_CONTACT "Quenbrik <weblumifang@quenbrik.de>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Empty, because each package's description below begins with its own
# summary line; a common summary would be put in front of both.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

# One package per install component (data/CMakeLists.txt assigns them); a file
# installed without a component would end up in neither package.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL window cli)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${PROJECT_HOMEPAGE_URL})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Folders the packages share with the system get the usual permissions.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME weblumifang)
set(CPACK_DEBIAN_WINDOW_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_WINDOW_DESCRIPTION "collects pictures from web sites and browses them
Web Lumifang crawls a web site for pictures with its own HTTP client,
lists every linked picture, and downloads the list into a folder. A second
window shows the pictures of any folder as thumbnails, with a viewer and
printing. The package weblumifang-cli runs the same scan and download
without a window.")
# Loaded at run time, so no linked library names them: Qt's window-system
# plugins (without them the window cannot open), the trust store for https.
set(CPACK_DEBIAN_WINDOW_PACKAGE_DEPENDS "qt6-qpa-plugins, ca-certificates")
# German texts of Qt's own dialogs; xdg-open behind "open with".
set(CPACK_DEBIAN_WINDOW_PACKAGE_RECOMMENDS "qt6-translations-l10n, xdg-utils")
set(CPACK_DEBIAN_WINDOW_PACKAGE_SUGGESTS "weblumifang-cli")

set(CPACK_DEBIAN_CLI_PACKAGE_NAME weblumifang-cli)
set(CPACK_DEBIAN_CLI_PACKAGE_SECTION web)
set(CPACK_DEBIAN_CLI_DESCRIPTION "collects pictures from web sites on the command line
weblumifang-cli crawls a web site for pictures with Web Lumifang's own HTTP
client, lists every linked picture and downloads the list into a folder,
without a window, for scripts and headless machines. It also makes the
thumbnail cache of a folder for Web Lumifang's image browser.")
# The trust store for https is read at run time; no linked library names it.
set(CPACK_DEBIAN_CLI_PACKAGE_DEPENDS "ca-certificates")

include(CPack)
