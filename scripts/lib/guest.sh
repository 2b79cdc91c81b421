# shellcheck shell=bash
# Shared by the stages that boot Debian's stock kernel under qemu (software
# emulation): the tools, the kernel kept between runs, the initramfs, and the
# reading of the result lines a guest prints. Source after scripts/lib/deps.sh
# and set, before calling anything here:
#   guest_stage     the stage's name, which starts its SKIPPED and closing lines
#   guest_required  1 when a skip is to fail the stage (CI sets this)
#
# The kernel cache ($FWUP_KERNEL_CACHE, default /var/cache/fwupgrade-kernel-tests,
# else ~/.cache/fwupgrade-kernel-tests) keeps, for each kernel package, the
# kernel image and the modules of every stage.

guest_skip() {
  echo "$guest_stage: SKIPPED: $*"
  [ "${guest_required:-0}" = 1 ] && exit 1
  exit 0
}

guest_as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# guest_need_tools [PACKAGE...]: qemu, a static busybox and cpio, and the
# given packages; skips the stage when they cannot be had. Sets guest_busybox.
guest_need_tools() {
  if ! (fwup_need_packages qemu-system-x86 busybox-static cpio "$@") >/dev/null 2>&1; then
    guest_skip "qemu-system-x86, busybox-static, cpio or ${*:-nothing else} cannot be installed"
  fi
  command -v qemu-system-x86_64 >/dev/null || guest_skip "qemu-system-x86_64 not found"
  guest_busybox=$(command -v busybox) || guest_skip "busybox not found"
  { ldd "$guest_busybox" 2>&1 || true; } | grep -q 'not a dynamic executable' ||
    guest_skip "$guest_busybox is not the static busybox"
}

guest_cache_dir() { # guest_cache_dir NAME: a writable cache folder outside the clone
  local dir=$1
  if ! mkdir -p "/var/cache/$dir" 2>/dev/null || [ ! -w "/var/cache/$dir" ]; then
    echo "${XDG_CACHE_HOME:-$HOME/.cache}/$dir"
  else
    echo "/var/cache/$dir"
  fi
}

# The stock kernel the distribution offers now: the one its meta package depends on.
guest_kernel_package_now() {
  apt-cache depends linux-image-amd64 2>/dev/null |
    sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*-amd64\)$/\1/p' | head -n 1
}

# The modules the guests load, in load order (paths below kernel/, without
# .ko). One cache entry holds all of them, so the stages share one download.
#   USB: both USB stacks, dummy_hcd joining them, and usblp (kernel-tests)
guest_usb_modules=(
  drivers/usb/common/usb-common drivers/usb/core/usbcore drivers/usb/gadget/udc/udc-core
  fs/configfs/configfs drivers/usb/gadget/libcomposite drivers/usb/gadget/function/usb_f_printer
  drivers/usb/gadget/udc/dummy_hcd drivers/usb/class/usblp
)
#   9p: folders of the host over virtio (wine32-tests)
guest_9p_modules=(
  drivers/virtio/virtio_ring drivers/virtio/virtio drivers/virtio/virtio_pci_modern_dev
  drivers/virtio/virtio_pci_legacy_dev drivers/virtio/virtio_pci net/9p/9pnet net/9p/9pnet_virtio
  fs/netfs/netfs fs/fscache/fscache fs/9p/9p
)

# guest_kernel: the kernel and every module above in the cache, fetched when
# any is missing. Sets guest_kernel_package and guest_kernel (the folder:
# vmlinuz, modules/).
guest_kernel() {
  local cache=${FWUP_KERNEL_CACHE:-}
  if [ -z "$cache" ]; then
    cache=$(guest_cache_dir fwupgrade-kernel-tests)
  fi
  mkdir -p "$cache"
  local package=${FWUP_KERNEL_PACKAGE:-$(guest_kernel_package_now)}
  if [ -z "$package" ]; then
    guest_as_root apt-get update -qq >/dev/null 2>&1 || true
    package=$(guest_kernel_package_now)
  fi
  if [ -z "$package" ]; then
    # Offline: the newest kernel fetched before will do.
    package=$(ls -1 "$cache" 2>/dev/null | grep '^linux-image-.*-amd64$' | sort -V | tail -n 1 || true)
    [ -n "$package" ] && [ -e "$cache/$package/complete" ] || guest_skip "apt offers no linux-image-amd64 and none is cached"
  fi
  local version=${package#linux-image-} kernel=$cache/$package m missing=0
  guest_kernel_package=$package
  guest_kernel=$kernel
  local wanted_modules=("${guest_usb_modules[@]}" "${guest_9p_modules[@]}")
  for m in "${wanted_modules[@]}"; do
    compgen -G "$kernel/modules/${m##*/}.ko*" >/dev/null || missing=1
  done
  [ -e "$kernel/complete" ] && [ $missing -eq 0 ] && return 0

  echo "== fetching $package into $cache"
  rm -rf "$kernel.download"
  mkdir -p "$kernel.download"
  if ! (cd "$kernel.download" && apt-get download -q "$package" >download.log 2>&1); then
    tail -n 3 "$kernel.download/download.log" || true
    rm -rf "$kernel.download"
    guest_skip "apt-get download $package failed"
  fi
  # Only the kernel image and the modules the guests load are kept.
  local wanted=("./boot/vmlinuz-$version")
  for m in "${wanted_modules[@]}"; do wanted+=("./lib/modules/$version/kernel/$m.ko*"); done
  mkdir -p "$kernel.download/tree" "$kernel.download/modules"
  dpkg-deb --fsys-tarfile "$kernel.download"/*.deb |
    tar -x -C "$kernel.download/tree" --wildcards "${wanted[@]}"
  cp "$kernel.download/tree/boot/vmlinuz-$version" "$kernel.download/vmlinuz"
  local found
  for m in "${wanted_modules[@]}"; do
    found=("$kernel.download/tree/lib/modules/$version/kernel/$m".ko*)
    [ -e "${found[0]}" ] || { rm -rf "$kernel.download"; guest_skip "$package has no ${m##*/} module"; }
    cp "${found[0]}" "$kernel.download/modules/"
  done
  rm -rf "$kernel.download/tree" "$kernel.download"/*.deb
  touch "$kernel.download/complete"
  rm -rf "$kernel"
  mv "$kernel.download" "$kernel"
}

# guest_initramfs_root ROOT MODULE...: a fresh tree with the static busybox
# (also as /bin/sh) and the named modules, uncompressed, in /lib/modules.
guest_initramfs_root() {
  local root=$1 m
  shift
  rm -rf "$root"
  mkdir -p "$root"/{bin,dev,proc,sys,tmp,lib/modules}
  cp "$guest_busybox" "$root/bin/busybox"
  ln -s busybox "$root/bin/sh"
  for m in "$@"; do cp "$guest_kernel"/modules/"${m##*/}".ko* "$root/lib/modules/"; done
  for m in "$root"/lib/modules/*.ko.xz; do [ -e "$m" ] && xz -d "$m"; done
  for m in "$root"/lib/modules/*.ko.zst; do [ -e "$m" ] && zstd -q -d --rm "$m"; done
  return 0
}

guest_pack_initramfs() { # guest_pack_initramfs ROOT FILE.gz
  (cd "$1" && find . | cpio -o -H newc --quiet | gzip -1) >"$2"
}

# guest_results TAG LOG NAME...: reads "TAG-RESULT PASS|FAIL NAME SECONDS[: why]"
# from a guest's console log, prints one PASS or FAIL line per name (with the
# guest's "TAG-LOG NAME ..." lines under a failure) and adds to guest_passed
# and guest_failed. A name without a result line failed.
guest_passed=0
guest_failed=0
guest_results() {
  local tag=$1 log=$2 name line rest
  shift 2
  for name in "$@"; do
    line=$(grep -a "^$tag-RESULT [A-Z]* $name " "$log" | head -n 1 | tr -d '\r' || true)
    case "$line" in
      "$tag-RESULT PASS "*)
        guest_passed=$((guest_passed + 1))
        echo "PASS $name (${line#"$tag-RESULT PASS $name "} s)"
        ;;
      "$tag-RESULT FAIL "*)
        guest_failed=$((guest_failed + 1))
        rest=${line#"$tag-RESULT FAIL $name "}
        echo "FAIL $name (${rest%%:*} s):${rest#*:}"
        grep -a "^$tag-LOG $name " "$log" | tr -d '\r' | sed "s/^$tag-LOG $name /     /" || true
        ;;
      *)
        guest_failed=$((guest_failed + 1))
        echo "FAIL $name: no result on the console (boot status ${guest_boot_status:-unknown}; see $log)"
        ;;
    esac
  done
}
