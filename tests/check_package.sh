#!/bin/sh
# Builds the Debian package from a configured and built tree and checks what
# it holds, that lintian finds nothing to say about it, and that every date
# in it is the sources' date, and that it depends on a C library only when
# the program was linked against one dynamically.
# Usage: check_package.sh BUILD_DIR CPACK host|armhf [dynamic|static-pie|static]
set -u
build=$1 cpack=$2 kind=$3 linkage=${4:-dynamic}
. "$(dirname "$0")/check_helpers.sh"

"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work" > "$work/cpack.log" 2>&1 || {
    cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || { echo "FAIL: no .deb made"; exit 1; }

arch=$(dpkg-deb -f "$deb" Architecture)
expected=$(dpkg --print-architecture)
[ "$kind" = armhf ] && expected=armhf
[ "$arch" = "$expected" ] || fail "Architecture is '$arch', not '$expected'"
for field in Package Version Maintainer Description Section; do
    [ -n "$(dpkg-deb -f "$deb" "$field")" ] || fail "no $field field"
done
depends=$(dpkg-deb -f "$deb" Depends)
if [ "$linkage" = dynamic ]; then
    [ -n "$depends" ] || fail "no Depends field for a dynamic program"
else
    [ -z "$depends" ] || fail "a static program depends on '$depends'"
fi
[ "$(dpkg-deb -f "$deb" Multi-Arch)" = foreign ] || fail "Multi-Arch is not foreign"

contents=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
for file in ./usr/bin/fifo_client_1 ./usr/share/man/man1/fifo_client_1.1.gz \
    ./usr/share/bash-completion/completions/fifo_client_1 \
    ./usr/share/doc/fifo-client-1/copyright ./usr/share/doc/fifo-client-1/changelog.gz \
    ./usr/share/doc/fifo-client-1/callers.md.gz \
    ./usr/share/doc/fifo-client-1/examples/triggerhappy/fifo_client_1.conf \
    ./usr/share/doc/fifo-client-1/examples/acpid/fifo_client_1-play-pause \
    ./usr/share/doc/fifo-client-1/examples/acpid/fifo_client_1-stop \
    ./usr/share/doc/fifo-client-1/examples/busybox-acpid/acpid.conf ./usr/libexec/fifo-client-1/fifo_client_1-key; do
    echo "$contents" | grep -qx "$file" || fail "$file is not in the package"
done
echo "$contents" | grep -q morvelin_stand_in && fail "the stand-in service is in the package"

# Every entry carries the one date the package was built for.
dates=$(dpkg-deb --fsys-tarfile "$deb" | tar -tv --full-time | awk '{ print $4 "T" $5 }' | sort -u)
[ "$(echo "$dates" | wc -l)" -eq 1 ] || fail "entries carry different dates: $dates"

# lintian says "running with root privileges is not recommended!" as root.
tags=$(lintian --pedantic --display-info --display-experimental "$deb" 2>&1 | grep -v 'root privileges')
[ -z "$tags" ] || fail "lintian: $tags"

[ "$failed" -eq 0 ] && echo "ok: $deb"
exit "$failed"
