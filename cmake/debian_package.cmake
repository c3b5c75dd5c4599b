# cpack -G DEB in the build folder makes the Debian package of everything
# installed; its dependencies are those of the libraries the programs link.
set(CPACK_PACKAGE_NAME quorvex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Quorvex")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "scramble pictures so that nobody can view them")
set(CPACK_PACKAGE_DESCRIPTION
    "Quorvex scrambles picture files so that they can no longer be viewed, and\n"
    "restores them with the same numeric code. It reads BMP, JPEG, PNG, TIFF,\n"
    "icons, metafiles and many older formats, and writes BMP files. The package\n"
    "holds the window program, the viewer Vuelet and quorvex-cli for scripts.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(QUORVEX_PACKAGE_MAINTAINER "Quorvex developers"
    CACHE STRING "The Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT ${QUORVEX_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${QUORVEX_HOME_PAGE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so no link shows them: Qt's display plugins, the
# fonts the metafile library draws text with, and the Arial-metric fonts the
# window is laid out for (other fonts clip its captions).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-urw-base35, fonts-liberation2")
set(CPACK_GENERATOR DEB)
include(CPack)
