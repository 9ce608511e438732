# The Debian package: `cpack -G DEB` in the build folder makes nirvex_<version>_<arch>.deb with
# everything `cmake --install` puts under a prefix, here /usr.

set(NIRVEX_PACKAGE_MAINTAINER "Nirvex developers" CACHE STRING
  "Maintainer field of the Debian package")

# Installs a systemd unit into lib/systemd/system. A unit names its program as
# @CMAKE_INSTALL_FULL_BINDIR@/<program>, which becomes the program's folder when the install runs,
# so that the prefix given to `cmake --install --prefix` or the package's /usr is the one named.
function(nirvex_install_systemd_unit unit)
  get_filename_component(source ${unit} ABSOLUTE)
  get_filename_component(name ${unit} NAME)
  # Installs into different places may run at once (the package test beside the install test):
  # each stages its copy in a folder of its own, removed once the unit is in place.
  install(CODE "
    file(READ \"${source}\" unit_text)
    string(REPLACE \"@CMAKE_INSTALL_FULL_BINDIR@\" \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\"
      unit_text \"\${unit_text}\")
    string(MD5 unit_place \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
    set(unit_staged \"${CMAKE_CURRENT_BINARY_DIR}/systemd/\${unit_place}/${name}\")
    file(WRITE \"\${unit_staged}\" \"\${unit_text}\")
    file(INSTALL \"\${unit_staged}\" DESTINATION \"\${CMAKE_INSTALL_PREFIX}/lib/systemd/system\"
      PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    file(REMOVE_RECURSE \"${CMAKE_CURRENT_BINARY_DIR}/systemd/\${unit_place}\")")
endfunction()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME nirvex)
set(CPACK_PACKAGE_VENDOR "Nirvex developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${NIRVEX_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Serial port relay: port to port, over TCP or through a relay host")
# The install runs with the final prefix, /usr, under DESTDIR, so that the units name it.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_NAME nirvex)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${NIRVEX_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
if(NIRVEX_HOMEPAGE)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${NIRVEX_HOMEPAGE})
endif()
# CPack puts the summary above this as the first line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Nirvex relays serial-port traffic from one serial port to another, over TCP to
another copy (server or client role), or through the relay host service
nirvex-host. Each side's CTS and DSR drive the other side's RTS and DTR, as a
crossed cable would. The window's texts are in Japanese.
.
This package holds the desktop program nirvex with its help file and menu entry,
nirvex-relay, which runs the relay from a profile without a window, and the relay
host service nirvex-host, with systemd units for both services (not enabled).")
# The libraries come from the programs; what they cannot show: the Japanese font the window's
# texts are drawn in, the Qt platform plugins, which Qt's GUI library only recommends and
# without which the window cannot open, and OpenSSL, which Qt loads only when TLS is used.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-ipafont-gothic, qt6-qpa-plugins, libssl3")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_LIST_DIR}/../packaging/debian/postinst
  ${CMAKE_CURRENT_LIST_DIR}/../packaging/debian/prerm
  ${CMAKE_CURRENT_LIST_DIR}/../packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
