# The Debian package that `make package` (the `package` target) builds.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumacap)
set(CPACK_PACKAGE_VENDOR Lumacap)
set(CPACK_PACKAGE_CONTACT "Lumacap developers <maintainers@lumacap.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tray screenshot utility that hands captures to Claude Code")
set(CPACK_PACKAGE_DESCRIPTION
  "Lumacap captures a region, a window or a whole X11 display from a global hot
key or its tray menu, puts the image on the clipboard at once and shows a
thumbnail. Captures can be renamed (names are suggested by on-device OCR),
kept in a private local history, exported, and delivered to a live Claude
Code session, whose terminal is brought to the front for pasting.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Text recognition needs its English data; folders and files open through
# xdg-open; gapplication binds desktop keys to Lumacap's actions.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "tesseract-ocr-eng, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libglib2.0-bin")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# cpack installs what is built and never builds itself: the package test runs
# it while other tests use the build tree. `make install` and `make package`
# build first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
include(CPack)
