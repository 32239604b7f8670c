# Installation and the Debian package (cpack -G DEB).
#   /opt/quorvel/Quorvel and vers.kq   the program finds the package beside itself
#   /usr/bin/quorvel                   a link to it; the tools beside it
#   /usr/share/...                     menu entry, icons, AppStream data, manuals, docs
# -DQUORVEL_PACKAGE_FILE=PATH puts that firmware package into the installation
# as /opt/quorvel/vers.kq; without it none is shipped and the firm's own
# package has to be placed there.
include(GNUInstallDirs)

set(QUORVEL_PACKAGE_FILE "" CACHE FILEPATH "Firmware package installed as /opt/quorvel/vers.kq")
set(QUORVEL_APP_DIR /opt/quorvel)
set(QUORVEL_APP_ID com.quorvel.Quorvel)
set(packaging ${CMAKE_SOURCE_DIR}/packaging)
set(generated ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${generated})

install(TARGETS Quorvel RUNTIME DESTINATION ${QUORVEL_APP_DIR})
if(QUORVEL_PACKAGE_FILE)
  install(FILES ${QUORVEL_PACKAGE_FILE} DESTINATION ${QUORVEL_APP_DIR} RENAME vers.kq)
endif()
# Absolute: the link leaves /usr for /opt.
file(CREATE_LINK ${QUORVEL_APP_DIR}/Quorvel ${generated}/quorvel SYMBOLIC)
install(FILES ${generated}/quorvel DESTINATION ${CMAKE_INSTALL_BINDIR})

set(tools quorvel-pack quorvel-simcam quorvel-flash)
if(TARGET quorvel-ports)
  list(APPEND tools quorvel-ports)
endif()
install(TARGETS ${tools} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${packaging}/${QUORVEL_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${packaging}/${QUORVEL_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${packaging}/quorvel.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Bitmap icons for menus that do not draw SVG, rendered from the one drawing.
find_program(RSVG_CONVERT rsvg-convert)
if(RSVG_CONVERT)
  set(icons)
  foreach(size 16 22 24 32 48 64 128 256)
    set(png ${generated}/icons/${size}/quorvel.png)
    add_custom_command(OUTPUT ${png}
                       COMMAND ${CMAKE_COMMAND} -E make_directory ${generated}/icons/${size}
                       COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${packaging}/quorvel.svg
                       DEPENDS ${packaging}/quorvel.svg VERBATIM)
    list(APPEND icons ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
  add_custom_target(quorvel_icons ALL DEPENDS ${icons})
else()
  message(WARNING "rsvg-convert not found (librsvg2-bin): only the SVG icon is installed")
endif()

# Debian keeps changelogs and manuals compressed, without time stamps.
set(pages quorvel.1 quorvel-pack.1 quorvel-simcam.1 quorvel-flash.1)
if(TARGET quorvel-ports)
  list(APPEND pages quorvel-ports.1)
endif()
set(compressed)
foreach(page ${pages})
  add_custom_command(OUTPUT ${generated}/${page}.gz
                     COMMAND gzip -9nc ${packaging}/${page} > ${generated}/${page}.gz
                     DEPENDS ${packaging}/${page} VERBATIM)
  list(APPEND compressed ${generated}/${page}.gz)
  install(FILES ${generated}/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
add_custom_command(OUTPUT ${generated}/changelog.gz
                   COMMAND gzip -9nc ${packaging}/changelog > ${generated}/changelog.gz
                   DEPENDS ${packaging}/changelog VERBATIM)
list(APPEND compressed ${generated}/changelog.gz)
add_custom_target(quorvel_compressed_docs ALL DEPENDS ${compressed})
install(FILES ${generated}/changelog.gz ${packaging}/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quorvel)
# What quorvel-flash --json writes, for the scripts that read it.
install(FILES ${PROJECT_SOURCE_DIR}/docs/quorvel-flash-record.schema.json
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quorvel)
install(FILES ${packaging}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME quorvel)

# --- the Debian package ---
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Quorvel)
set(CPACK_PACKAGE_CONTACT "Quorvel developers <dev@quorvel.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware update for RZ4417 and KWT6083 thermal cameras")
# The summary is the synopsis line; this is the text below it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Quorvel writes new firmware into a handheld thermal camera over its USB
serial link. It finds the camera's bootloader on any serial port, sends the
image for its product from the firmware package vers.kq and follows the
camera until its flash is written.
.
Also included: quorvel-pack, which builds and checks firmware packages, and
quorvel-simcam, a simulated camera for trying Quorvel without one.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# /opt/quorvel is an absolute destination: staged under DESTDIR.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/cpack)
include(CPack)
