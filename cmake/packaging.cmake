# The Debian package, built by CPack from the install rules (scripts/package-linux):
# fwupgrade_<version>_<arch>.deb. Configure with -DCMAKE_INSTALL_PREFIX=/usr so
# the library folder is Debian's multiarch one.
if(WIN32)
  return()
endif()
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME fwupgrade)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "printer firmware upgrade utility")
set(CPACK_PACKAGE_DESCRIPTION
  "Identifies a printer over a parallel port or USB, reads its firmware version\n"
  "and sends it a new firmware image. fwupgrade is the dialog (Qt 6),\n"
  "fwupgrade-cli the same from a terminal; both include a virtual printer to try\n"
  "everything without hardware. libveltport.so is the USB port library.")
set(CPACK_PACKAGE_CONTACT "fwupgrade maintainers <fwupgrade@localhost>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The run-time dependencies come from the binaries themselves (dpkg-shlibdeps):
# Qt 6 Widgets, libieee1284, the C and C++ runtimes. libveltport.so is loaded
# at run time, so nothing links it; the shlibs file still records its soname.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
