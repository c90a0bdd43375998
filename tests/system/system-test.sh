#!/bin/sh
# Proves the shipped package on real ARM kernels. One initramfs of Debian's
# armhf userland (busybox, Debian's armhf C and C++ runtime, the .deb's
# contents laid out as installed, the stand-in service, the armhf test
# executables) boots under two kernels of Debian 12: the 32-bit armmp
# kernel (qemu-system-arm -M virt, Cortex-A15), and the arm64 kernel
# (qemu-system-aarch64 -M virt, Cortex-A72), which runs the armhf userland
# in compat mode, as many 32-bit devices do today; there inode numbers pass
# 32 bits. Its /init (tests/system/guest-init.sh) runs the checks and the
# whole GoogleTest suite natively on each, and presses media keys on a
# uinput keyboard for Debian's triggerhappy and acpid, wired up with the
# package's example files.
#
# With --bench the initramfs holds instead Debian's armhf valgrind,
# coreutils, dash, daemontools and s6, and the armmp guest counts with
# callgrind what one delivery costs beside them; it prints one line
# "bench: NAME INSTRUCTIONS" each (bench/benchmark.sh reads them).
#
# Packages are downloaded with a private apt state (no foreign architecture
# is added to this machine, nothing is installed) and cached in the build
# folder. With a static armhf build (STATIC_BUILD_DIR, the musl-armhf
# preset's) the guests run the shipped checks on its client too, at
# /usr/local/bin/fifo_client_1.
# Usage: tests/system/system-test.sh [--bench] [ARMHF_BUILD_DIR [STATIC_BUILD_DIR]]
# (default build/armhf)
set -eu
cd "$(dirname "$0")/../.."
mode=test
if [ "${1:-}" = --bench ]; then
    mode=bench
    shift
fi
if [ "$mode" = test ]; then
    tools/install-deps.sh test system-test
else
    tools/install-deps.sh system-test
fi

build=${1:-build/armhf}
static_build=${2:-}
[ -f "$build/CMakeCache.txt" ] || cmake --preset armhf -B "$build" > /dev/null
cmake --build "$build" > /dev/null
build=$(cd "$build" && pwd)
work=$build/system-test
mkdir -p "$work"

# What the guests need: the kernels that the metapackages name today (their
# ABI number changes with security updates), busybox, the C and C++
# runtime; for the tests setpriv and its library (busybox's setpriv has no
# --reuid), strace and its library, and the hotkey daemons triggerhappy
# (with the libraries of libsystemd0) and acpid; for the benchmark valgrind,
# which needs libc6-dbg's symbols of the loader, and the programs measured
# beside the client.
runtime="busybox-static libc6 libgcc-s1 libstdc++6"
if [ "$mode" = test ]; then
    packages="$runtime util-linux libcap-ng0 triggerhappy libsystemd0 libcap2 libgcrypt20 libgpg-error0
              liblz4-1 liblzma5 libzstd1 acpid strace libunwind8"
    kernels="armmp:armhf arm64:arm64"
else
    packages="$runtime libc6-dbg valgrind coreutils dash daemontools s6"
    kernels="armmp:armhf"
fi
debs=$work/debs-$mode
if [ ! -f "$debs/complete" ]; then
    rm -rf "$debs"
    mkdir -p "$debs"
    apt_dir=$work/apt
    mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
    : > "$apt_dir/status"
    set -- -o "Dir::State=$apt_dir" -o "Dir::State::Lists=$apt_dir/lists" \
        -o "Dir::State::status=$apt_dir/status" -o "Dir::Cache=$apt_dir/cache" \
        -o APT::Architecture=armhf -o APT::Architectures::=armhf -o APT::Architectures::=arm64 \
        -o Debug::NoLocking=1 -o APT::Sandbox::User=root
    echo "Downloading Debian's packages for the ARM guests: $kernels $packages"
    apt-get "$@" -q update > "$work/apt.log" 2>&1 || { cat "$work/apt.log"; exit 1; }
    names=$packages
    for kernel in $kernels; do
        image=$(apt-cache "$@" depends "linux-image-$kernel" | awk '/Depends: linux-image-/ { print $2; exit }')
        [ -n "$image" ] || { echo "linux-image-$kernel names no kernel"; exit 1; }
        names="$names ${image%%:*}:${kernel#*:}"
    done
    # The libraries s6-svc needs, whatever their soname versions are now.
    [ "$mode" = bench ] && names="$names $(apt-cache "$@" depends s6 | awk '/Depends: lib/ { print $2 }')"
    # shellcheck disable=SC2086 # a list of names
    (cd "$debs" && apt-get "$@" -q download $names) >> "$work/apt.log" 2>&1 || { cat "$work/apt.log"; exit 1; }
    touch "$debs/complete"
fi

unpacked=$work/unpacked-$mode
root=$work/root-$mode
rm -rf "$unpacked" "$root" "$work/package"
for deb in "$debs"/*.deb; do
    dpkg-deb -x "$deb" "$unpacked"
done

# The package as the build made it.
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" > "$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; exit 1; }

mkdir -p "$root/bin" "$root/lib/arm-linux-gnueabihf" "$root/usr/bin" "$root/etc" \
    "$root/proc" "$root/sys" "$root/dev" "$root/tmp"
dpkg-deb -x "$work"/package/*.deb "$root"
cp "$unpacked/bin/busybox" "$root/bin/busybox"
ln -s busybox "$root/bin/sh"
# Debian's armhf shared libraries, and the loader where programs look for it.
find "$unpacked/lib/arm-linux-gnueabihf" "$unpacked/usr/lib/arm-linux-gnueabihf" -maxdepth 1 -name '*.so*' \
    -exec cp -a {} "$root/lib/arm-linux-gnueabihf/" \;
ln -s arm-linux-gnueabihf/ld-linux-armhf.so.3 "$root/lib/ld-linux-armhf.so.3"
# Each kernel's modules that /init loads from the kernel it runs on: the
# overlay, for the test of a pipe whose inode number is past 32 bits;
# evdev and uinput, for the key presses.
for module in $(find "$unpacked/lib/modules" -name overlay.ko -o -name evdev.ko -o -name uinput.ko); do
    release=${module#"$unpacked/lib/modules/"}
    release=${release%%/*}
    mkdir -p "$root/lib/modules/$release"
    cp "$module" "$root/lib/modules/$release/"
done
if [ -n "$static_build" ]; then
    mkdir -p "$root/usr/local/bin"
    cp "$static_build/src/fifo_client_1" "$root/usr/local/bin/fifo_client_1"
fi
mkdir -p "$root$build/tools"
cp "$build/tools/morvelin_stand_in" "$root$build/tools/"
echo "$build" > "$root/etc/fifo_client_1-build"

if [ "$mode" = test ]; then
    cp "$unpacked/usr/bin/setpriv" "$unpacked/usr/bin/strace" "$unpacked/usr/bin/flock" "$root/usr/bin/"
    mkdir -p "$root/usr/sbin" "$root/run"
    cp "$unpacked/usr/sbin/thd" "$unpacked/usr/sbin/acpid" "$root/usr/sbin/"
    # thd drops to the user "nobody" by name.
    printf 'root:x:0:0:root:/root:/bin/sh\nnobody:x:65534:65534:nobody:/nonexistent:/bin/false\n' > "$root/etc/passwd"
    printf 'root:x:0:\nnogroup:x:65534:\n' > "$root/etc/group"
    # The test executables know their programs by their paths in the build.
    mkdir -p "$root$build/tests"
    for program in fifo_client_1_tests fifo_client_1_load_tests fifo_client_1_under_test careless_caller media_keys; do
        cp "$build/tests/$program" "$root$build/tests/$program"
    done
else
    mkdir -p "$root/bench" "$root/usr/libexec/valgrind"
    cp "$unpacked/bin/true" "$unpacked/bin/dash" "$unpacked/usr/bin/svc" "$unpacked/usr/bin/s6-svc" "$root/bench/"
    # Debian's valgrind is a wrapper script around valgrind.bin.
    cp "$unpacked/usr/bin/valgrind" "$unpacked/usr/bin/valgrind.bin" "$root/usr/bin/"
    for file in callgrind-arm-linux vgpreload_core-arm-linux.so default.supp; do
        cp "$unpacked/usr/libexec/valgrind/$file" "$root/usr/libexec/valgrind/"
    done
    # valgrind needs the loader's symbols, which libc6-dbg keeps by build ID.
    for library in ld-linux-armhf.so.3 libc.so.6; do
        id=$(readelf -n "$unpacked/lib/arm-linux-gnueabihf/$library" | awk '/Build ID/ { print $3 }')
        debug=usr/lib/debug/.build-id/$(echo "$id" | cut -c1-2)/$(echo "$id" | cut -c3-).debug
        mkdir -p "$root/${debug%/*}"
        cp "$unpacked/$debug" "$root/$debug"
    done
fi
cp tests/system/guest-init.sh "$root/init"
cp tests/system/checks.sh "$root/checks.sh"
chmod 0755 "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) > "$work/initramfs-$mode.gz"

# The BusyBox device, with the static client: nothing from Debian but
# busybox-static and the armmp kernel's modules; BusyBox's init as PID 1,
# whose rcS runs the shipped init script; the package's files; the
# stand-in and the uinput keyboard built static; users for the service,
# the keys and an outsider. Its test is tests/system/busybox-device.sh.
if [ "$mode" = test ] && [ -n "$static_build" ]; then
    device=$work/root-device
    rm -rf "$device"
    mkdir -p "$device/bin" "$device/sbin" "$device/usr/sbin" "$device/etc/init.d" "$device/proc" "$device/sys" \
        "$device/dev" "$device/tmp" "$device/run" "$device/var/log"
    chmod 1777 "$device/tmp"
    dpkg-deb -x "$work"/package/*.deb "$device"
    cp "$static_build/src/fifo_client_1" "$device/usr/bin/fifo_client_1"
    cp "$unpacked/bin/busybox" "$device/bin/busybox"
    ln -s bin/busybox "$device/init"
    for program in tools/morvelin_stand_in tests/media_keys; do
        arm-linux-gnueabihf-g++ -std=c++20 -O2 -static -o "$device/usr/bin/${program#*/}" "$program.cpp"
    done
    release=$(ls "$unpacked/lib/modules" | grep -- '-armmp$')
    mkdir -p "$device/lib/modules/$release"
    find "$unpacked/lib/modules/$release" \( -name evdev.ko -o -name uinput.ko \) -exec cp {} "$device/lib/modules/$release/" \;
    printf '%s\n' root:x:0:0:root:/root:/bin/sh morvelin:x:100:100::/:/bin/false \
        morvelin-keys:x:101:101::/:/bin/false outsider:x:102:102::/:/bin/false > "$device/etc/passwd"
    printf '%s\n' root:x:0: morvelin:x:100:morvelin-keys morvelin-keys:x:101: outsider:x:102: > "$device/etc/group"
    printf '%s\n' '::sysinit:/bin/busybox --install -s' '::sysinit:/etc/init.d/rcS' '::wait:/etc/device-test' \
        > "$device/etc/inittab"
    cat > "$device/etc/init.d/rcS" << 'END'
#!/bin/sh
mount -t proc proc /proc && mount -t sysfs sysfs /sys && mount -t devtmpfs devtmpfs /dev
for module in /lib/modules/*/*.ko; do insmod "$module"; done
for script in /etc/init.d/S??*; do "$script" start; done
END
    # Installed as callers.md says.
    cp "$device/usr/share/doc/fifo-client-1/examples/busybox-init/S01morvelin-fifo" "$device/etc/init.d/"
    chmod 0755 "$device/etc/init.d/rcS" "$device/etc/init.d/S01morvelin-fifo"
    cp tests/system/busybox-device.sh "$device/etc/device-test"
    cp tests/system/checks.sh "$device/etc/checks.sh"
    chmod 0755 "$device/etc/device-test"
    (cd "$device" && find . | cpio -o -H newc --quiet | gzip -1) > "$work/initramfs-device.gz"
fi

# boot KERNEL QEMU MACHINE CPU MEMORY [INITRAMFS]: boots the kernel of that
# flavour with the initramfs and shows what the guest printed from its first
# check on.
verdicts=0
boot() {
    vmlinuz=$(ls "$unpacked"/boot/vmlinuz-*-"$1")
    initramfs=${6:-$mode}
    console=$work/console-$initramfs-$1.log
    echo "Booting $(basename "$vmlinuz") under $2"
    started=$(date +%s)
    status=0
    timeout 300 "$2" -M "$3" -cpu "$4" -m "$5" -nographic -nic none -no-reboot \
        -kernel "$vmlinuz" -initrd "$work/initramfs-$initramfs.gz" \
        -append "console=ttyAMA0 panic=-1 quiet fifo_client_1.mode=$mode" < /dev/null > "$console" 2>&1 || status=$?
    tr -d '\r' < "$console" | grep -vE '^\[ *[0-9]+\.[0-9]+\]' | sed -n '/^kernel:/,$p'
    echo "($1 guest: $(($(date +%s) - started)) s)"
    if [ "$status" -ne 0 ]; then
        echo "$2 ended with status $status (124: timed out)"
        verdicts=1
    # qemu exits 0 even after a kernel panic: only the guest's verdict counts.
    elif ! tr -d '\r' < "$console" | grep -qx "SYSTEM TEST RESULT: PASSED"; then
        verdicts=1
    fi
}

if [ "$mode" = test ]; then
    boot armmp qemu-system-arm virt cortex-a15 256
    boot arm64 qemu-system-aarch64 virt cortex-a72 512
    [ -z "$static_build" ] || boot armmp qemu-system-arm virt cortex-a15 256 device
else
    boot armmp qemu-system-arm virt cortex-a15 512
fi
exit "$verdicts"
