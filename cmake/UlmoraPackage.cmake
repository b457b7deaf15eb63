# The Debian package: `cpack -G DEB` in a build directory makes ulmora_<version>_<arch>.deb of what
# `cmake --install` puts under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ulmora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Teskor")
set(CPACK_PACKAGE_CONTACT "Ulmora developers <ulmora@teskor.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "real-time improvement of low-light camera video")
# Lines of at most 80 characters, as Debian's tools show them.
set(CPACK_PACKAGE_DESCRIPTION
    "Ulmora watches, improves and records the picture of a faint, noisy low-light
video camera, or of a recording, in real time. It sums successive frames into
a long software exposure, amplifies it, sets black level and a gamma curve,
removes horizontal and vertical banding, and writes processed pictures as BMP
files. ulmora-batch does the same without a window.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://teskor.example/ulmora/")
# Computed from the programs' libraries; what they load at run time is named by hand: the decoders,
# converters and camera source (GStreamer plugins) and Qt's window-system plugins.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-libav, qt6-qpa-plugins")

# Debian wants a changelog in every package's doc directory; a version without a Debian revision makes
# a native package, whose changelog is changelog.gz.
set(ulmora_changelog ${CMAKE_BINARY_DIR}/package/changelog)
string(TIMESTAMP ulmora_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${ulmora_changelog}
     "ulmora (${PROJECT_VERSION}) unstable; urgency=low\n\n  * Built from the project's sources.\n\n"
     " -- ${CPACK_PACKAGE_CONTACT}  ${ulmora_changelog_date}\n")
add_custom_command(OUTPUT ${ulmora_changelog}.gz COMMAND gzip -9nkf ${ulmora_changelog}
                   DEPENDS ${ulmora_changelog} VERBATIM)
add_custom_target(ulmora-changelog ALL DEPENDS ${ulmora_changelog}.gz)
install(FILES ${ulmora_changelog}.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

include(CPack)
