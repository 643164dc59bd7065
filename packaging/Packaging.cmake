# What the Debian package installs, and how CPack builds it (scripts/package.sh).
include(GNUInstallDirs)

# The package installs under /usr; the user unit starts the program from there.
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(OREVANT_UNIT_EXECUTABLE "${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/orevant")
configure_file(${PROJECT_SOURCE_DIR}/packaging/orevant.service.in ${PROJECT_BINARY_DIR}/packaging/orevant.service @ONLY)

install(TARGETS orevant orevant-remote RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/orevant.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/orevant.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# The entry "Launch at Login" writes into the user's autostart folder, kept here as a template.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/orevant-autostart.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/orevant RENAME orevant.desktop)
install(FILES ${PROJECT_BINARY_DIR}/packaging/orevant.service DESTINATION lib/systemd/user)

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "orevant")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "OREVANT developers <orevant@brenlake.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Per-application volume, output buses and recording for the Linux desktop")
set(CPACK_PACKAGE_DESCRIPTION
    "A resident desktop audio agent: per-application volume, mute and routing, MAIN and PHONES\n"
    "buses with a pre-fade cue, scenes, panic, meters, multitrack recording, OSC remote control\n"
    "from a phone, MIDI learn, device ranking and Bluetooth headsets.")
set(CPACK_DEBIAN_PACKAGE_SECTION "sound")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_FILE_NAME "DEB-DEFAULT") # orevant_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)    # dependencies from dpkg-shlibdeps
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "avahi-daemon, bluez, policykit-1")
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX "${PROJECT_BINARY_DIR}/package")
include(CPack)
