# The Debian package of tilu, sarv and sarv-playlist: `cpack -G DEB` in the build tree.
#
# The linker's libraries come from dpkg-shlibdeps. The media framework finds its plug-ins at
# run time, where dpkg-shlibdeps cannot see them: receiving and decoding a stream needs the
# base (playbin, decodebin, videoconvert, videoscale, audio conversion, ALSA), good (udpsrc,
# rtpbin and the RTP depayloaders, HTTP through souphttpsrc, pngenc, multifilesink,
# autoaudiosink, PulseAudio), bad (tsdemux, h264parse, rtpsrc) and libav (H.264 and AAC
# decoders) sets.
set(TILU_PLUGIN_PACKAGES
  "gstreamer1.0-plugins-base (>= 1.20)"
  "gstreamer1.0-plugins-good (>= 1.20)"
  "gstreamer1.0-plugins-bad (>= 1.20)"
  "gstreamer1.0-libav (>= 1.20)")
list(JOIN TILU_PLUGIN_PACKAGES ", " TILU_PLUGIN_DEPENDS)

set(CPACK_PACKAGE_NAME "tilu-sarv")
set(CPACK_PACKAGE_VENDOR "the tilu and sarv developers")
set(CPACK_PACKAGE_CONTACT "the tilu and sarv developers <tilu@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "video wall player and multicast stream scanner for IPTV networks")
set(CPACK_PACKAGE_DESCRIPTION
  "tilu shows every stream of an M3U or CSV playlist as a live tile of a video wall; the
focused stream plays at full size with sound. sarv scans IPv4 multicast groups for UDP
streams and saves one PNG picture of each; sarv-playlist turns its findings into a playlist
for tilu.")
set(CPACK_GENERATOR "DEB")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "video")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Added to what dpkg-shlibdeps finds.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${TILU_PLUGIN_DEPENDS}")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gstreamer1.0-plugins-ugly, libcap2-bin")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
include(CPack)
