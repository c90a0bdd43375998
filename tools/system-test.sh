#!/bin/sh
# Proves the shipped package on a real ARMv7-A Linux kernel. Boots Debian's
# armhf kernel under qemu-system-arm (-M virt, Cortex-A15, no devices) from
# an initramfs that holds busybox, the armhf runtime libraries, the .deb's
# contents laid out as installed, the stand-in service and the armhf test
# executables, and runs the checks of tools/system-test-init.sh and the
# whole GoogleTest suite there, natively. The kernel, busybox and setpriv
# come from Debian's armhf packages, downloaded with a private apt state
# (nothing is installed for armhf on this machine) and cached in the build
# folder. Usage: tools/system-test.sh [ARMHF_BUILD_DIR]  (default build/armhf)
set -eu
cd "$(dirname "$0")/.."
tools/install-deps.sh test system-test

build=${1:-build/armhf}
[ -f "$build/CMakeCache.txt" ] || cmake --preset armhf -B "$build" > /dev/null
cmake --build "$build" > /dev/null
build=$(cd "$build" && pwd)
sysroot=$(sed -n 's/^ARM_SYSROOT_DIR:PATH=//p' "$build/CMakeCache.txt")
work=$build/system-test
debs=$work/debs
mkdir -p "$debs"

# Downloads, once: the kernel that linux-image-armmp points at today (its
# ABI number changes with security updates), busybox, and setpriv with its
# library (busybox's setpriv has no --reuid).
if [ ! -f "$debs/complete" ]; then
    apt_dir=$work/apt
    mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
    : > "$apt_dir/status"
    set -- -o "Dir::State=$apt_dir" -o "Dir::State::Lists=$apt_dir/lists" \
        -o "Dir::State::status=$apt_dir/status" -o "Dir::Cache=$apt_dir/cache" \
        -o APT::Architectures=armhf -o APT::Architecture=armhf \
        -o Debug::NoLocking=1 -o APT::Sandbox::User=root
    echo "Downloading Debian's armhf kernel, busybox and setpriv"
    apt-get "$@" -q update > "$work/apt.log" 2>&1 || { cat "$work/apt.log"; exit 1; }
    kernel=$(apt-cache "$@" depends linux-image-armmp | awk '/Depends: linux-image-/ { print $2; exit }')
    [ -n "$kernel" ] || { echo "linux-image-armmp names no kernel"; exit 1; }
    (cd "$debs" && apt-get "$@" -q download "$kernel" busybox-static util-linux libcap-ng0) >> "$work/apt.log" 2>&1 ||
        { cat "$work/apt.log"; exit 1; }
    touch "$debs/complete"
fi

unpacked=$work/unpacked
rm -rf "$unpacked" "$work/root" "$work/package"
for deb in "$debs"/*.deb; do
    dpkg-deb -x "$deb" "$unpacked"
done
vmlinuz=$(ls "$unpacked"/boot/vmlinuz-*)
overlay_module=$(find "$unpacked/lib/modules" -name overlay.ko)

# The package as the build made it.
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" > "$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; exit 1; }

root=$work/root
mkdir -p "$root/bin" "$root/lib/modules" "$root/usr/bin" "$root/etc" \
    "$root/proc" "$root/sys" "$root/dev" "$root/tmp"
dpkg-deb -x "$work"/package/*.deb "$root"
cp "$unpacked/bin/busybox" "$root/bin/busybox"
ln -s busybox "$root/bin/sh"
cp "$unpacked/usr/bin/setpriv" "$root/usr/bin/setpriv"
for library in ld-linux-armhf.so.3 libc.so.6 libm.so.6 libstdc++.so.6 libgcc_s.so.1; do
    cp -L "$sysroot/lib/$library" "$root/lib/"
done
cp -L "$unpacked"/lib/arm-linux-gnueabihf/libcap-ng.so.0 "$root/lib/"
cp "$overlay_module" "$root/lib/modules/overlay.ko"
# The test executables know their programs by their paths in the build.
for program in tests/fifo_client_1_tests tests/fifo_client_1_load_tests tests/fifo_client_1_under_test \
    tests/careless_caller tools/morvelin_stand_in; do
    mkdir -p "$root$build/${program%/*}"
    cp "$build/$program" "$root$build/$program"
done
echo "$build/tests" > "$root/etc/fifo_client_1-tests"
cp tools/system-test-init.sh "$root/init"
chmod 0755 "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) > "$work/initramfs.gz"

echo "Booting $(basename "$vmlinuz") under qemu-system-arm"
console=$work/console.log
status=0
timeout 300 qemu-system-arm -M virt -cpu cortex-a15 -m 256 -nographic -nic none -no-reboot \
    -kernel "$vmlinuz" -initrd "$work/initramfs.gz" \
    -append "console=ttyAMA0 panic=-1 quiet" < /dev/null > "$console" 2>&1 || status=$?
tr -d '\r' < "$console" | grep -vE '^\[ *[0-9]+\.[0-9]+\]' | sed -n '/^kernel:/,$p'
if [ "$status" -ne 0 ]; then
    echo "qemu-system-arm ended with status $status (124: timed out)"
    exit 1
fi
# qemu exits 0 even after a kernel panic: only the guest's verdict counts.
tr -d '\r' < "$console" | grep -qx "SYSTEM TEST RESULT: PASSED"
