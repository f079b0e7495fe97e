# The Debian package: `cpack -G DEB` in a build directory after the build.
# It holds what a plain `cmake --install` installs; the offline engine, a
# test server, is left out.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kelvarn)
set(CPACK_PACKAGE_VENDOR Kelvarn)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(KELVARN_PACKAGE_MAINTAINER "Kelvarn maintainers <kelvarn@example.org>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KELVARN_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends from the libraries the programs link (dpkg-shlibdeps, of dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The first line is the summary; CPack indents the rest as the control file
# wants it, and an empty line separates paragraphs.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "keyword research from a search engine's related searches
From a list of seed keywords Kelvarn requests the search engine's results
page for each keyword, collects the phrases of its related-searches block
and queues each one a level deeper, on a pool of worker threads, down to
the depth set. Seeds and phrases are GBK text files, one keyword a line.

The package holds the window program (kelvarn-window, in the desktop's
menu) and the kelvarn command, which harvests without a window and takes
a single results page apart to show why a harvest gives nothing.")

include(CPack)
