# `make deb`: a Debian package of the window and tessarin-cli, installed
# under /usr, with the desktop file, the icons, the AppStream description
# and the manual page. Its dependencies come from dpkg-shlibdeps, plus the
# Qt platform plugins, which the programs load rather than link.
include(GNUInstallDirs)

# Installing builds only what is installed, not every test and benchmark.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

# What a Debian package carries beside the programs: the copyright file
# and the changelog, compressed as the policy asks (without a timestamp).
set(TESSARIN_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/tessarin)
set(TESSARIN_CHANGELOG_GZ ${CMAKE_BINARY_DIR}/data/changelog.gz)
add_custom_command(OUTPUT ${TESSARIN_CHANGELOG_GZ}
  COMMAND gzip -9nc ${CMAKE_SOURCE_DIR}/data/debian/changelog > ${TESSARIN_CHANGELOG_GZ}
  DEPENDS ${CMAKE_SOURCE_DIR}/data/debian/changelog VERBATIM)
add_custom_target(tessarin-changelog ALL DEPENDS ${TESSARIN_CHANGELOG_GZ})
install(FILES ${CMAKE_SOURCE_DIR}/data/debian/copyright DESTINATION ${TESSARIN_DOC_DIR})
install(FILES ${TESSARIN_CHANGELOG_GZ} DESTINATION ${TESSARIN_DOC_DIR})

# The changelog's newest entry is this version.
file(STRINGS ${CMAKE_SOURCE_DIR}/data/debian/changelog TESSARIN_CHANGELOG_TOP LIMIT_COUNT 1)
if(NOT TESSARIN_CHANGELOG_TOP MATCHES "^tessarin \\(${PROJECT_VERSION}\\)")
  message(FATAL_ERROR "data/debian/changelog does not begin with version ${PROJECT_VERSION}")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessarin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Tessarin developers <developers@tessarin.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "give photographs the look of a miniature model")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Tessarin keeps a tilted focus band of a photograph sharp, blurs what lies\n"
  "beyond it and makes the colours look painted, so that the scene looks like\n"
  "a model. It turns and resamples pictures, keeps their camera data, and\n"
  "reads and writes BMP, JPEG, GIF, PNG, HEIC, AVIF, WebP, TIFF and JPEG XL.\n"
  "tessarin-cli does the same for folders of photos and for videos.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tessarin.example")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# (The window's platform plugins, and libheif's HEVC and AV1 encoders,
# which it loads itself and only recommends, for saving HEIC and AVIF.)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libheif-plugin-x265, libheif-plugin-aomenc")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ffmpeg")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
