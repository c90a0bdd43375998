#!/bin/sh
# Installs, with apt-get, the Debian packages that a task needs and that are
# missing. Usage: tools/install-deps.sh build|test|debian|system-test|bench ...
set -eu

packages=""
for task in "$@"; do
    case $task in
    build) packages="$packages cmake ninja-build g++ binutils gzip" ;;
    test) packages="$packages cmake ninja-build g++ binutils googletest g++-arm-linux-gnueabihf qemu-user
                    clang-format cppcheck man-db groff-base mandoc util-linux dpkg dpkg-dev bash
                    lintian devscripts gzip git clang make musl musl-dev strace" ;;
    debian) packages="$packages debhelper dpkg-dev mmdebstrap lintian util-linux coreutils" ;;
    system-test) packages="$packages qemu-system-arm cpio gzip apt dpkg coreutils" ;;
    bench) packages="$packages cmake ninja-build g++ binutils g++-arm-linux-gnueabihf musl musl-dev valgrind strace dash coreutils
                     daemontools s6" ;;
    *) echo "usage: $0 build|test|debian|system-test|bench ..." >&2; exit 2 ;;
    esac
done

missing=""
for package in $packages; do
    case " $missing " in *" $package "*) continue ;; esac
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || missing="$missing $package"
done
[ -z "$missing" ] && exit 0

as_root=""
[ "$(id -u)" -eq 0 ] || as_root=sudo
echo "Installing:$missing"
# A new machine often runs unattended upgrades first: wait for apt's lock
# rather than fail.
wait_for_lock="-o DPkg::Lock::Timeout=600"
# shellcheck disable=SC2086 # the lists are meant to split into words
$as_root apt-get $wait_for_lock update -q
# shellcheck disable=SC2086
DEBIAN_FRONTEND=noninteractive $as_root apt-get $wait_for_lock install -y -q --no-install-recommends $missing
