# The Debian package, built by `make package` (CPack). It installs under
# /usr; its library dependencies are computed from the programs
# (dpkg-shlibdeps), and the rest of what the window needs at run time is
# named here.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pellicar)
set(CPACK_PACKAGE_VENDOR "Pellicar developers")
set(CPACK_PACKAGE_CONTACT "Pellicar developers <packages@pellicar.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "set up a thermal receipt printer")
set(CPACK_PACKAGE_DESCRIPTION [=[
Pellicar sets up a thermal receipt printer from a desktop: a window, a
command-line tool and a virtual printer. The printer is reached through a
raw job on a print queue, a serial port or a TCP connection to its network
port; the window sends its base settings (serial interface, code page,
font, density, cutter, cash drawer...), its Ethernet and Wi-Fi settings,
black-mark paper settings, logos and firmware.
.
pellicar-cli sends every setting of the window from a shell and shows the
exact bytes first when asked.]=])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Joined to what dpkg-shlibdeps finds:
# - the toolkit's platform plugins, without which the window cannot open
#   (the toolkit's library only recommends them);
# - the faces the window is laid out for: its controls sit at fixed places
#   measured in Tahoma and, on the Ethernet tab, in Calibri's metrics
#   (Carlito); in the default face "Speed:" loses its colon there. Its
#   labels end in a full-width colon that only a CJK face draws (a box
#   otherwise);
# - the print server's library, which the programs load when they first
#   use a print server (src/platform/cups_library.cpp), so dpkg-shlibdeps
#   does not see it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "libcups2 (>= 2.4), qt6-qpa-plugins, fonts-wine, fonts-crosextra-carlito, fonts-wqy-microhei | fonts-noto-cjk")

include(CPack)
