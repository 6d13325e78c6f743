# Installation on a Linux desktop and the Debian package.
#
#   cmake --install BUILD                          # to CMAKE_INSTALL_PREFIX (/usr/local)
#   cpack --config BUILD/CPackConfig.cmake -G DEB  # lumarex-upgrade-tool_<version>_<arch>.deb
#
# Besides the executable: a desktop entry and its icon, so the tool shows up in
# the desktop's application menu, and a udev rule so that the logged-in user may
# open the unit in DFU mode without root.

include(GNUInstallDirs)

set(UPDATER_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR}/../packaging/linux)

# udev reads rules from fixed places only, never from under the install prefix,
# so this is an absolute path. Empty: install no rule (an unprivileged install
# to a home directory; the rule is then put in place by hand).
set(UPDATER_UDEV_RULES_DIR "/lib/udev/rules.d" CACHE PATH
  "Where the udev rule for the unit in DFU mode is installed; empty installs none")

install(FILES ${UPDATER_PACKAGING_DIR}/lumarex-upgrade-tool.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${UPDATER_PACKAGING_DIR}/lumarex-upgrade-tool.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# Rendered from the SVG by packaging/linux/render-icon.sh and committed, so that
# a build needs no SVG renderer.
install(FILES ${UPDATER_PACKAGING_DIR}/lumarex-upgrade-tool.png
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps)
if(NOT UPDATER_UDEV_RULES_DIR STREQUAL "")
  install(FILES ${UPDATER_PACKAGING_DIR}/70-lumarex-arc31-dfu.rules
    DESTINATION ${UPDATER_UDEV_RULES_DIR})
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumarex-upgrade-tool)
set(CPACK_PACKAGE_VENDOR "Lumarex")
set(CPACK_PACKAGE_VERSION ${CMAKE_PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Lumarex Tools Team <tools@lumarex.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware upgrade tool for the Lumarex Arc-31 flash unit")
# Debian wants the long description in lines of at most 80 characters.
set(CPACK_PACKAGE_DESCRIPTION [[
Installs the firmware it carries inside its executable into an Arc-31
photographic flash unit over USB. The unit is brought into its USB DFU
upgrade mode by hand; the tool finds it, reads its identification and
firmware revision, installs the firmware, reads the flash back and
verifies it.

The package includes a udev rule that lets the user of the active desktop
session use any USB device in STM32 DFU mode (0483:df11) without root.]])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES TRUE)

set(CPACK_DEBIAN_PACKAGE_NAME lumarex-upgrade-tool)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Lumarex Tools Team <tools@lumarex.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps only sees the executable's own libraries. The dfu-util inside
# it is extracted and run at run time and needs libusb, at least the version
# Debian's dfu-util 0.11 asks for.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libusb-1.0-0 (>= 2:1.0.22)")
find_program(UPDATER_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(UPDATER_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  message(WARNING "dpkg-shlibdeps (package dpkg-dev) not found: the Debian package "
    "declares its libraries without versions")
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS
    ", libqt5widgets5, libqt5gui5, libqt5core5a, zlib1g, libstdc++6, libc6")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${UPDATER_PACKAGING_DIR}/debian/postinst
  ${UPDATER_PACKAGING_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

include(CPack)
