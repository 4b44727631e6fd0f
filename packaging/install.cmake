# Where `cmake --install` puts the program and what a desktop needs to show it,
# and the .deb that `make package` builds from the same rules. Only install and
# packaging use these rules; they add nothing to what the build compiles.
include(GNUInstallDirs)

set(PW_APP_ID io.github.portwright.Portwright)
set(PW_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
# GNUInstallDirs would name it after the project, Portwright; Debian looks
# for the package's name.
set(PW_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/portwright)

# Debian wants 0755 directories whatever the umask of the machine that builds.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS portwright RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PW_PACKAGING_DIR}/${PW_APP_ID}.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PW_PACKAGING_DIR}/${PW_APP_ID}.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${PW_PACKAGING_DIR}/icons/portwright.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME ${PW_APP_ID}.svg)
# Workspace files (*.portwright) open in the program from a file manager.
install(FILES ${PW_PACKAGING_DIR}/portwright-workspace.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
# The service that runs a workspace without a window. Under the prefix
# (/usr/lib/systemd/system), which systemd reads as well as /lib.
install(FILES ${PW_PACKAGING_DIR}/portwright-headless@.service
  DESTINATION lib/systemd/system)
# Where the service looks for its workspaces: /etc when installed under /usr,
# as the package is, and <prefix>/etc otherwise.
install(DIRECTORY DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/portwright)
# The PNGs are rendered once from the SVG and kept in the repository, so that
# installing needs no SVG renderer:
#   for n in 16 22 24 32 48 64 128 256; do rsvg-convert -w $n -h $n portwright.svg -o portwright-$n.png; done
foreach(size 16 22 24 32 48 64 128 256)
  install(FILES ${PW_PACKAGING_DIR}/icons/portwright-${size}.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME ${PW_APP_ID}.png)
endforeach()

# The manual page and the changelog go in compressed with `gzip -9n` (no name,
# no time stamp), as Debian's tools expect; compressing at install time keeps
# gzip out of the build.
function(pw_install_gzipped source destination)
  get_filename_component(name ${source} NAME)
  set(gzipped ${CMAKE_CURRENT_BINARY_DIR}/gzipped/${name}.gz)
  install(CODE "
    file(MAKE_DIRECTORY \"${CMAKE_CURRENT_BINARY_DIR}/gzipped\")
    execute_process(COMMAND gzip -9nc \"${source}\" OUTPUT_FILE \"${gzipped}\" COMMAND_ERROR_IS_FATAL ANY)
    file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${destination}\" TYPE FILE FILES \"${gzipped}\")")
endfunction()
pw_install_gzipped(${PW_PACKAGING_DIR}/portwright.1 ${CMAKE_INSTALL_MANDIR}/man1)
pw_install_gzipped(${PW_PACKAGING_DIR}/changelog ${PW_DOC_DIR})
install(FILES ${PW_PACKAGING_DIR}/copyright DESTINATION ${PW_DOC_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME portwright)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Portwright developers")
set(CPACK_PACKAGE_CONTACT "Portwright developers <portwright@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "TCP, UDP and serial port test tool")
# Lines of the extended description are kept under 80 characters by hand; CPack
# does not wrap them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Portwright is a desktop tool for trying out TCP, UDP and serial ports by"
  "hand: TCP servers and clients, UDP servers and clients, multicast group"
  "members and serial ports with their line settings and modem lines, every"
  "accepted peer an endpoint of its own. Each endpoint has a data window with"
  "its status, log, send box with hex mode, repeated and timed sending,"
  "automatic replies and byte counters. A workspace also runs without a"
  "window, as a service.")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://portwright.example.org/")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries come from what the binary links (dpkg-shlibdeps); Qt loads its
# platform plugins at run time, so the program shows no window without them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The user interface is Chinese: without a font that has its glyphs every
# text is a box, and an install without recommends would bring none.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-wqy-microhei | fonts-noto-cjk")
include(CPack)
