# The Debian package, doodlechorus_<version>-<revision>_<architecture>.deb: CPack's DEB generator
# over the project's install rules (make package, or cpack in a build folder). Installs under
# /usr; Depends comes from the binaries through dpkg-shlibdeps (Debian's dpkg-dev) and file.
# The copyright file, the Debian changelog and lintian's overrides go in only here, not in
# make install.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME doodlechorus)
set(CPACK_PACKAGE_VENDOR "The DoodleChorus developers")
set(CPACK_PACKAGE_HOMEPAGE_URL https://github.com/doodlechorus/doodlechorus)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "drawing pad that sings what you draw")
# One paragraph, its lines kept within 80 columns as Debian's control file wants them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "DoodleChorus sings what you draw. Drag with the left mouse button in its"
    "drawing area: the horizontal position sets the pitch, free or snapped to a"
    "major, minor or pentatonic scale, the vertical position sets the vowel, and"
    "a formant synthesizer sings it in real time. Gestures can be recorded with"
    "their timing, played back up to five times faster and saved as small text"
    "files; doodlechorus-render sings a recording into a WAV, FLAC or Ogg file,"
    "or writes it as a MIDI file.")
# The maintainer address is also the last entry's in packaging/changelog.
set(CPACK_DEBIAN_PACKAGE_MAINTAINER
    "The DoodleChorus developers <doodlechorus@users.noreply.github.com>")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The Debian revision of this version: 1 until the packaging alone changes.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Only the binary package; the sources are the repository.
set(CPACK_SOURCE_GENERATOR "")

set(DC_DEBIAN_CHANGELOG ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz)
dc_gzip(${CMAKE_CURRENT_LIST_DIR}/changelog ${DC_DEBIAN_CHANGELOG})
add_custom_target(debian_changelog ALL DEPENDS ${DC_DEBIAN_CHANGELOG})
# stage-debian.cmake runs inside cpack, where only CPACK_ variables reach it: it adds the
# copyright file, the changelog and the lintian overrides, and strips the programs.
set(CPACK_DC_DEBIAN_DOCS ${CMAKE_CURRENT_LIST_DIR}/copyright ${DC_DEBIAN_CHANGELOG})
set(CPACK_DC_LINTIAN_OVERRIDES ${CMAKE_CURRENT_LIST_DIR}/lintian-overrides)
set(CPACK_DC_STRIP ${CMAKE_STRIP})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/stage-debian.cmake)

include(CPack)
