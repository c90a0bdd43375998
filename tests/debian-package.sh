#!/bin/sh
# The Debian source package, and the binary packages built from it as a
# buildd builds them: natively with `dpkg-buildpackage -b`, which runs the
# program's tests in dh_auto_test, and cross for armhf with
# `dpkg-buildpackage -aarmhf -Pcross` in a throwaway Debian 12 cross-build
# environment made with mmdebstrap (armhf added, build dependencies
# installed with `apt-get build-dep -aarmhf -Pcross`). The package's
# autopkgtest then runs, with autopkgtest's null runner, on the native
# package installed in a copy of that environment. Nothing on this machine
# changes: no foreign architecture is added to it. lintian --pedantic must
# have nothing to say about any of the packages, and they must hold the
# same files with the same fields as the CPack packages of the same
# sources. The environment is kept in a cache between runs
# ($FIFO_CLIENT_CACHE, by default ~/.cache/fifo_client_1); delete it to
# start afresh. Needs root (chroot and an overlay mount).
# Usage: tests/debian-package.sh [OUTPUT_DIR]
set -eu
[ "$(id -u)" -eq 0 ] || exec sudo "$0" "$@"
cd "$(dirname "$0")/.."
top=$(pwd)
out=${1:-build/debian}
tools/install-deps.sh test debian
work=$(mktemp -d)
# The overlay is unmounted on success already; the trap must not fail then.
trap 'umount -R "$work/root" 2> /dev/null || true; rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }
# Runs a command, showing its output only when it fails.
quietly() { "$@" > "$work/log" 2>&1 || { tail -n 60 "$work/log"; exit 1; }; }
step() { echo "---- $* ($(date +%T))"; }

rm -rf "$out" && mkdir -p "$out"
out=$(cd "$out" && pwd)
version=$(dpkg-parsechangelog -S Version)

step "source package"
mkdir "$work/fifo-client-1"
tar --exclude=./build --exclude=./.git -cf - . | tar -xf - -C "$work/fifo-client-1"
(cd "$work/fifo-client-1" && quietly dpkg-buildpackage -S -us -uc)
cp "$work"/fifo-client-1_"$version".dsc "$work"/fifo-client-1_"$version".tar.* "$out"
dsc=$out/fifo-client-1_$version.dsc

step "native build from the source package, with the program's tests"
(cd "$work" && quietly dpkg-source -x "$dsc" native &&
    cd native && quietly dpkg-buildpackage -us -uc -b)
cp "$work"/fifo-client-1_"${version}"_*.deb "$out"

step "cross build for armhf"
cache=${FIFO_CLIENT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/fifo_client_1}
# What a cross builder installs besides the package's build dependencies:
# the cross toolchain, and the C library of the host architecture, against
# which dpkg-shlibdeps resolves the executable's needs; and the runner of
# the package's autopkgtest.
include=crossbuild-essential-armhf,libc6-dev:armhf,autopkgtest
# A new environment whenever what it is made of changes.
key=$(echo "$include" | cat - debian/control | sha256sum | cut -c1-16)
env_dir=$cache/cross-armhf-bookworm-$key
if [ ! -e "$env_dir/.complete" ]; then
    rm -rf "$cache"/cross-armhf-bookworm-*
    mkdir -p "$cache"
    # This machine's own Debian sources; no mirror is named here.
    sources=""
    for file in /etc/apt/sources.list /etc/apt/sources.list.d/debian.sources; do
        [ -s "$file" ] && sources="$sources $file"
    done
    started=$(date +%s)
    # shellcheck disable=SC2086 # one argument a sources file
    quietly mmdebstrap --variant=buildd --architectures="$(dpkg --print-architecture),armhf" \
        --include="$include" \
        --customize-hook='mkdir -p "$1/srv/deps"' \
        --customize-hook="copy-in $top/debian /srv/deps" \
        --customize-hook='chroot "$1" sh -c "cd /srv/deps && apt-get build-dep -y -aarmhf -Pcross ./"' \
        --customize-hook='rm -rf "$1/srv/deps"' \
        bookworm "$env_dir" $sources
    touch "$env_dir/.complete"
    echo "made the cross-build environment in $(($(date +%s) - started)) s: $(du -sh "$env_dir" | cut -f1)"
fi
# enter_environment NAME: a copy of the environment at $work/root, through an
# overlay, so that it stays as made.
enter_environment() {
    mkdir "$work/$1" "$work/$1-work"
    mount -t overlay overlay -o "lowerdir=$env_dir,upperdir=$work/$1,workdir=$work/$1-work" "$work/root"
    mount -t proc proc "$work/root/proc"
    mkdir "$work/root/build"
    cp "$dsc" "$out"/fifo-client-1_"$version".tar.* "$work/root/build"
}
mkdir "$work/root"
enter_environment cross
# Without nocheck, as a cross builder may well build: the tests must turn
# themselves off.
quietly chroot "$work/root" sh -c "cd /build && dpkg-source -x fifo-client-1_$version.dsc src &&
    cd src && dpkg-buildpackage -aarmhf -Pcross -us -uc -b"
cp "$work"/root/build/fifo-client-1_"$version"_armhf.deb "$out"
umount -R "$work/root"

step "autopkgtest of the native package"
enter_environment autopkgtest
cp "$out"/fifo-client-1_"$version"_"$(dpkg --print-architecture)".deb "$work/root/build"
quietly chroot "$work/root" sh -c "cd /build && dpkg-source -x fifo-client-1_$version.dsc src &&
    autopkgtest --output-dir=/build/autopkgtest ./*.deb ./src/ -- null"
grep -q '^deliver *PASS' "$work/root/build/autopkgtest/summary" || fail "autopkgtest: $(cat "$work/root/build/autopkgtest/summary")"
umount -R "$work/root"

step "lintian"
for package in "$dsc" "$out"/*.deb; do
    # lintian says "running with root privileges is not recommended!" as root.
    tags=$(lintian --pedantic --display-info --display-experimental "$package" 2>&1 | grep -v 'root privileges') ||
        true
    [ -z "$tags" ] || fail "lintian on ${package##*/}: $tags"
done

step "the same packages as CPack makes"
# package_summary DEB: its fields but the size, and its files with their modes.
package_summary() {
    dpkg-deb -f "$1" Package Version Architecture Maintainer Depends Section Priority Multi-Arch Description
    # The root entry "./" of dpkg-deb's tar is no file: CPack's has none.
    dpkg-deb -c "$1" | awk '$6 != "./" { print $1, $6 }'
}
for preset in default armhf; do
    quietly cmake --preset "$preset" -B "$work/cpack-$preset" -DBUILD_TESTING=OFF
    quietly cmake --build "$work/cpack-$preset"
    (cd "$work/cpack-$preset" && quietly cpack -G DEB -B "$work/cpack-$preset/deb")
    cpack_deb=$(ls "$work/cpack-$preset"/deb/*.deb)
    arch=$(dpkg-deb -f "$cpack_deb" Architecture)
    if ! diff -u "$(package_summary "$cpack_deb" > "$work/cpack.txt"; echo "$work/cpack.txt")" \
        "$(package_summary "$out/fifo-client-1_${version}_$arch.deb" > "$work/dpkg.txt"; echo "$work/dpkg.txt")" \
        > "$work/diff"; then
        fail "the $arch packages of CPack and dpkg-buildpackage differ: $(cat "$work/diff")"
    fi
done

[ "$failed" -eq 0 ] && echo "ok: the Debian packages are in $out"
exit "$failed"
