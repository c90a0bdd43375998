#!/bin/sh
# Unpacks Debian's armhf musl (packages musl and musl-dev) into DIR/root, a
# sysroot for cmake/musl/arm-linux-musleabihf.cmake. The packages are
# downloaded with a private apt state in DIR: no foreign architecture is
# added to this machine, and nothing is installed. Kept once complete.
# Usage: debian-armhf-sysroot.sh DIR
set -eu
dir=$1
[ -e "$dir/complete" ] && exit 0
rm -rf "$dir"
mkdir -p "$dir/apt/lists/partial" "$dir/apt/cache/archives/partial" "$dir/debs"
: > "$dir/apt/status"
set -- -o "Dir::State=$dir/apt" -o "Dir::State::Lists=$dir/apt/lists" -o "Dir::State::status=$dir/apt/status" \
    -o "Dir::Cache=$dir/apt/cache" -o APT::Architecture=armhf -o APT::Architectures::=armhf \
    -o Debug::NoLocking=1 -o APT::Sandbox::User=root
apt-get "$@" -q update > "$dir/apt.log" 2>&1 || { cat "$dir/apt.log"; exit 1; }
(cd "$dir/debs" && apt-get "$@" -q download musl musl-dev) >> "$dir/apt.log" 2>&1 || { cat "$dir/apt.log"; exit 1; }
for deb in "$dir"/debs/*.deb; do
    dpkg-deb -x "$deb" "$dir/root"
done
touch "$dir/complete"
