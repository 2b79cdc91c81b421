# The Debian packages the Linux port needs beyond the common build tools:
#   qt6-base-dev       the Linux dialog (Qt 6 Widgets) and its tests (Qt Test)
#   fonts-dejavu-core  a font for the dialog's metrics on Qt's offscreen platform
#   libieee1284-3-dev  the IEEE 1284 device ID of printers on parallel ports
#   umockdev, libumockdev-dev, pkg-config
#                      the device tests of the usblp layer and the printer ports
#   python3-jsonschema the tests that check fwupgrade-cli --json against its schema
#   libsnmp-dev, snmpd the IEEE 1284 device ID of network printers over SNMP, and
#                      the real agent its tests ask on loopback
# CMake builds without any of them: it then leaves out what needs them, and says so.
# Source after scripts/lib/deps.sh, then call fwup_need_linux_packages.
FWUP_LINUX_PACKAGES=(qt6-base-dev fonts-dejavu-core libieee1284-3-dev umockdev libumockdev-dev pkg-config python3-jsonschema
                     libsnmp-dev snmpd)

fwup_need_linux_packages() {
  fwup_need_packages "${FWUP_LINUX_PACKAGES[@]}"
}
