# The Debian package: `cpack -G DEB` in a build folder (or `cmake --workflow --preset
# package`). It holds exactly what `cmake --install` installs, under /usr, with the units'
# and configuration files' paths made for /usr when it is built.
set(CPACK_PACKAGE_NAME vistrel)
set(CPACK_PACKAGE_VENDOR "The Vistrel developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "phone or small Linux device as the web camera and microphone of a PC")
set(CPACK_PACKAGE_DESCRIPTION "Vistrel turns a phone, or any small Linux device with a camera, into the
web camera and the microphone of a PC. The device program vistrel captures the
camera, the screen or the microphone and streams JPEG pictures and sound over
TCP. On the PC, the service warden receives them, the viewer lookout shows the
live picture, vistrel-camera offers it to video programs as a PipeWire camera,
and orvaneaudio offers the sound as a microphone.")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Install with DESTDIR, so that files made while installing see the real prefix (/usr),
# never the staging folder.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX ${CPACK_PACKAGING_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Vistrel developers <developers@vistrel.org>")
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Private modules are loaded by name from the module folder; they provide no shared
# libraries to other packages.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
# The help file is opened with the desktop's opener; the camera and microphone need a
# PipeWire session.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pipewire, xdg-utils")
# Maintainer scripts only reload the running user managers (see packaging/postinst).
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/packaging/postinst ${CMAKE_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# The package's copyright and change log, where Debian keeps them.
set(VISTREL_DEB_VERSION ${CPACK_PACKAGE_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})
set(changelog ${CMAKE_BINARY_DIR}/packaging/changelog.Debian)
configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog.Debian.in ${changelog} @ONLY)
add_custom_command(OUTPUT ${changelog}.gz
  COMMAND gzip -9nkf ${changelog}
  DEPENDS ${changelog}
  COMMENT "Debian change log")
add_custom_target(package_changelog ALL DEPENDS ${changelog}.gz)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright ${changelog}.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

include(CPack)
