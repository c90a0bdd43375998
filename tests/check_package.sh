#!/bin/sh
# Builds the Debian package from a configured and built tree and checks what
# it holds. Usage: check_package.sh BUILD_DIR CPACK host|armhf
set -u
build=$1 cpack=$2 kind=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work" > "$work/cpack.log" 2>&1 || {
    cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || { echo "FAIL: no .deb made"; exit 1; }

arch=$(dpkg-deb -f "$deb" Architecture)
expected=$(dpkg --print-architecture)
[ "$kind" = armhf ] && expected=armhf
[ "$arch" = "$expected" ] || fail "Architecture is '$arch', not '$expected'"
for field in Package Version Maintainer Description Section Depends; do
    [ -n "$(dpkg-deb -f "$deb" "$field")" ] || fail "no $field field"
done

contents=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
for file in ./usr/bin/fifo_client_1 ./usr/share/man/man1/fifo_client_1.1 \
    ./usr/share/bash-completion/completions/fifo_client_1; do
    echo "$contents" | grep -qx "$file" || fail "$file is not in the package"
done
echo "$contents" | grep -q morvelin_stand_in && fail "the stand-in service is in the package"

[ "$failed" -eq 0 ] && echo "ok: $deb"
exit "$failed"
