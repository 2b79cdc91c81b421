# Shared by the scripts: installs Debian packages that are missing, quietly and
# only when something is missing, so a second run does nothing.

# A mirror caught in the middle of a sync serves an index whose size does not
# match its Release file, and apt-get update fails for that index alone; a
# later try usually finds it whole. After a few tries the lists apt already has
# are used: the install that follows says whether they were enough.
fwup_apt_update() {
  local sudo="" try
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  for try in 1 2 3; do
    $sudo apt-get update -qq && return 0
    [ $try -eq 3 ] || { echo "== apt-get update failed (try $try of 3); again in $((try * 20)) s"; sleep $((try * 20)); }
  done
  echo "== apt-get update failed 3 times; installing from the package lists at hand"
}

fwup_need_packages() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "== installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  fwup_apt_update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# What every configure of the sources needs besides the compilers and CMake,
# for the Windows builds as well: nlohmann-json (header-only), the JSON of
# fwupgrade-cli's --json.
FWUP_SOURCE_PACKAGES=(nlohmann-json3-dev)

# fwup_need_i386_packages NAME:i386...: as fwup_need_packages, for packages of
# the i386 architecture (32-bit Wine), which it first adds as a foreign
# architecture of the host when it is not one yet.
fwup_need_i386_packages() {
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "== adding i386 as a foreign architecture"
    $sudo dpkg --add-architecture i386
    fwup_apt_update
  fi
  fwup_need_packages "$@"
}
