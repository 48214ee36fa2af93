# Installation as a desktop program (the program and its body, its desktop entry, AppStream metainfo, man page and
# hicolor icons) and the Debian package made of it by CPack. One application id names them all.
set(KESTRUNE_ICON_SIZES 16 32 48 64 128 256)
set(KESTRUNE_DATA_DIR "${PROJECT_SOURCE_DIR}/data")

install(TARGETS kestrune RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
# The program's body, loaded by bin/kestrune from its own library folder; not executable by itself.
install(TARGETS kestrune-app LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}/kestrune"
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(FILES "${KESTRUNE_DATA_DIR}/${KESTRUNE_APP_ID}.desktop" DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
install(FILES "${KESTRUNE_DATA_DIR}/${KESTRUNE_APP_ID}.metainfo.xml" DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
foreach(size IN LISTS KESTRUNE_ICON_SIZES)
    install(FILES "${KESTRUNE_DATA_DIR}/icons/${size}x${size}/${KESTRUNE_APP_ID}.png"
            DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps")
endforeach()
install(FILES "${KESTRUNE_DATA_DIR}/icons/scalable/${KESTRUNE_APP_ID}.svg"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")

# Man pages are installed compressed, as Debian does; -n keeps the archive free of a time stamp.
set(KESTRUNE_MANPAGE "${CMAKE_BINARY_DIR}/kestrune.1.gz")
add_custom_command(OUTPUT "${KESTRUNE_MANPAGE}"
    COMMAND sh -c "gzip -9nc \"$0\" > \"$1\"" "${KESTRUNE_DATA_DIR}/kestrune.1" "${KESTRUNE_MANPAGE}"
    DEPENDS "${KESTRUNE_DATA_DIR}/kestrune.1"
    VERBATIM)
add_custom_target(kestrune_manpage ALL DEPENDS "${KESTRUNE_MANPAGE}")
install(FILES "${KESTRUNE_MANPAGE}" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")

set(CPACK_PACKAGE_NAME "kestrune")
set(CPACK_PACKAGE_VENDOR "Brinmoor")
set(CPACK_PACKAGE_CONTACT "Brinmoor")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop site launcher: web sites as applications of their own")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR "DEB")
set(CPACK_SOURCE_GENERATOR "")
set(CPACK_DEBIAN_FILE_NAME "DEB-DEFAULT")
set(CPACK_DEBIAN_PACKAGE_SECTION "web")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "http://kestrune.brinmoor.com/")
# CPack puts the summary first and indents the rest as a Debian description wants.
set(CPACK_PACKAGE_DESCRIPTION
    "Kestrune keeps a list of web sites and opens each one as if it were an\n"
    "application of its own: a dedicated browser window (Qt WebEngine) with the\n"
    "site's title, icon and remembered placement and an optional tray icon, or\n"
    "the default web browser. Shortcuts in the application menu, on the desktop\n"
    "and in autostart open one site.")
string(CONCAT CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
# The libraries come from dpkg-shlibdeps; what the program loads at run time without linking it is
# named here: the platform plugins and the web engine's helper process.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6webenginecore6-bin")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, xdg-utils, hicolor-icon-theme")
include(CPack)
