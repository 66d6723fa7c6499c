# The Debian package of zqpack (host tree): what tools/zqpack installs, under
# /usr: the binary with both programs proper built in (build.sh builds the
# Windows trees first), its manual page, the license as the copyright file
# and setup-ini.md.  'bash build.sh package' runs cpack and copies the .deb
# into out/; tests/package installs it into a scratch root and uses it.
# zqpack run's Windows helpers, built in the Windows trees: the GUI driver
# and the stand-in Application Manager (64-bit, for setups of both
# architectures), the driver's probe of each architecture, and the 32-bit
# stand-in that tells whether i686 programs run at all.
install(FILES ${ZQ_OUT}/x86_64/zqdriver.exe ${ZQ_OUT}/x86_64/CeAppMgr.exe ${ZQ_OUT}/x86_64/zqprobe.dll
        DESTINATION lib/zqpack/x86_64)
install(FILES ${ZQ_OUT}/i686/zqprobe.dll ${ZQ_OUT}/i686/CeAppMgr.exe DESTINATION lib/zqpack/i686)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "wine, wine64, xvfb, imagemagick")
# zqpack cab writes cabinets through libgcab 1.5's gcab_file_set_date_time;
# dpkg-shlibdeps adds the rest (libc, libstdc++, zlib, libdeflate, tinyxml2).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libgcab-1.0-0 (>= 1.5)")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zqpack)
set(CPACK_PACKAGE_VERSION ${ZQPACK_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "ZQ Installer developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "builds, checks and takes apart ZQ Installer setups")
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "A ZQ Installer setup is one Windows program that installs a Smartphone 2002\n"
    "application through the Windows CE Application Manager.  zqpack packs one\n"
    "from a Setup.ini, its license, two bitmaps and the CAB files, checks the\n"
    "settings as the setup program will read them, and lists, verifies and\n"
    "extracts finished setups, also as JSON, and runs them under Wine with a\n"
    "stand-in Application Manager.  It also makes the Windows CE install\n"
    "cabinet from a CAB Wizard .inf, so the whole road runs on Linux.  Both\n"
    "programs proper (i686 and x86_64) are built in.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # zqpack_VERSION_ARCH.deb
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # libc, libstdc++, zlib, libdeflate from dpkg-shlibdeps
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_STRIP_FILES ON)
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
include(CPack)
