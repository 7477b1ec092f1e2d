#!/usr/bin/env bash
# Reads a CD and a DVD through libtrelin.so on a drive nobody here wrote: QEMU's
# emulated IDE/ATAPI CD-ROM, inside a small Linux guest under software
# emulation. The guest is built here from Debian packages (the kernel and its
# ATA, SCSI and CD-ROM modules, busybox-static); the test fails when a tool is
# missing.
#   run_peer_test.sh LIBTRELIN PEER_READ WORK_DIR
set -euo pipefail
library=$1
peer_read=$2
work=$3

fail() { echo "FAIL: $*" >&2; exit 1; }
for tool in qemu-system-x86_64 cpio genisoimage dpkg-deb apt-get apt-cache gzip readelf timeout; do
  command -v "$tool" >/dev/null || fail "$tool is missing (see the README's apt-get line)"
done
busybox=/bin/busybox
[ -x "$busybox" ] || fail "busybox is missing (package busybox-static)"
readelf -l "$busybox" | grep -q INTERP && fail "$busybox is not the static busybox (package busybox-static)"

mkdir -p "$work"
work=$(cd "$work" && pwd)

# The kernel package that linux-image-amd64 points at, downloaded once.
package=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-/{print $2; exit}')
[ -n "$package" ] || fail "linux-image-amd64 is unknown to apt (run apt-get update)"
kernel_dir="$work/$package"
if [ ! -d "$kernel_dir/boot" ]; then
  rm -rf "$work/debs" "$kernel_dir.tmp"
  mkdir -p "$work/debs"
  (cd "$work/debs" && apt-get download -q "$package" >/dev/null 2>&1) || fail "apt-get download $package failed"
  dpkg-deb -x "$work"/debs/"$package"_*.deb "$kernel_dir.tmp"
  mv "$kernel_dir.tmp" "$kernel_dir"
  rm -rf "$work/debs"
fi
vmlinuz=$(ls "$kernel_dir"/boot/vmlinuz-*)
modules=$(ls -d "$kernel_dir"/lib/modules/*/kernel)

# Disc images: a CD, and a DVD larger than a CD can hold (QEMU reports an
# image above 80 minutes of 2,048-byte sectors as a DVD-ROM). The DVD's
# padding carries random blocks, so a sector read from the wrong place shows.
rm -rf "$work/images" "$work/root"
mkdir -p "$work/images/cd/dir" "$work/images/dvd/dir"
for i in 1 2 3 4 5 6; do
  head -c $((i * 311 * 1024 + i)) /dev/urandom >"$work/images/cd/dir/file$i.bin"
  head -c $((i * 523 * 1024 + 7)) /dev/urandom >"$work/images/dvd/dir/file$i.bin"
done
genisoimage -quiet -J -r -V PEERCD -o "$work/images/cd.iso" "$work/images/cd"
genisoimage -quiet -J -r -V PEERDVD -o "$work/images/dvd.iso" "$work/images/dvd"
truncate -s 720M "$work/images/dvd.iso"
for block in 100 200 300 350; do
  head -c 65536 /dev/urandom | dd of="$work/images/dvd.iso" bs=1M seek="$block" conv=notrunc status=none
done

# The guest (its root a ramfs, which holds the DVD image unlike a tmpfs of
# half the memory): busybox, the modules, the test program with libtrelin.so and the
# shared libraries both need (at the paths the loader looks for them), the images.
root="$work/root"
mkdir -p "$root"/{bin,dev,proc,sys,modules,tmp,trelin}
cp "$busybox" "$root/bin/busybox"
for m in drivers/scsi/scsi_common drivers/scsi/scsi_mod drivers/ata/libata drivers/ata/ata_piix \
         drivers/cdrom/cdrom drivers/scsi/sr_mod drivers/scsi/sg; do
  cp "$modules/$m.ko" "$root/modules/"
done
cp "$library" "$root/trelin/libtrelin.so"
cp "$peer_read" "$root/peer_read"
# Libraries built beside libtrelin.so go beside it (found there by its
# $ORIGIN run path); the system's keep their paths.
library_dir=$(cd "$(dirname "$library")" && pwd)
for lib in $( (ldd "$peer_read"; ldd "$library") | grep -o '/[^ ]*' | sort -u); do
  if [ "$(cd "$(dirname "$lib")" && pwd)" = "$library_dir" ]; then
    cp -L "$lib" "$root/trelin/"
  else
    mkdir -p "$root$(dirname "$lib")"
    cp -L "$lib" "$root$lib"
  fi
done
ln "$work/images/cd.iso" "$work/images/dvd.iso" "$root/"
cat >"$root/init" <<'INIT'
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
for m in scsi_common scsi_mod libata ata_piix cdrom sr_mod sg; do
  insmod /modules/$m.ko || echo "PEER FAIL: insmod $m"
done
i=0
while [ ! -e /dev/sr1 ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i + 1)); done
export SORVEL_DRIVES='D:=/dev/sr0;E:=/dev/sr1'
/peer_read /trelin/libtrelin.so 3 cd /cd.iso >/dev/null
/peer_read /trelin/libtrelin.so 4 dvd /dvd.iso >/dev/null
echo "PEER DONE"
poweroff -f
INIT
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$work/initramfs.gz"

log="$work/console.log"
started=$(date +%s)
timeout 900 qemu-system-x86_64 -accel tcg -cpu max -m 1536 -smp 1 -nographic -no-reboot -nic none \
  -kernel "$vmlinuz" -initrd "$work/initramfs.gz" -append "console=ttyS0 panic=-1 quiet loglevel=3 rootfstype=ramfs" \
  -drive file="$work/images/cd.iso",if=ide,index=0,media=cdrom,readonly=on,format=raw \
  -drive file="$work/images/dvd.iso",if=ide,index=1,media=cdrom,readonly=on,format=raw \
  </dev/null >"$log" 2>&1 || echo "qemu exited with status $?"
echo "guest ran $(( $(date +%s) - started )) s"
grep -a 'PEER\|nitramfs' "$log" || true
grep -aq '^PEER DONE' "$log" || { tail -n 40 "$log"; fail "the guest did not finish"; }
grep -aq '^PEER PASS cd' "$log" || fail "CD sectors read through the engine differ from the image"
grep -aq '^PEER PASS dvd' "$log" || fail "DVD sectors read through the engine differ from the image"
rm -rf "$work/images" "$work/root" "$work/initramfs.gz"
echo "PASS: every sector of the CD and the DVD image read through libtrelin.so"
