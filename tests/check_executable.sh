#!/bin/sh
# Checks the shipped executable: it needs no shared library but libc, has no
# static constructors, and on armhf is a small ARMv7-A hard-float program.
# Usage: check_executable.sh EXECUTABLE host|armhf STRIP
set -u
exe=$1 kind=$2 strip=$3
failed=0
fail() { echo "FAIL: $*"; failed=1; }

needed=$(readelf -d "$exe" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
[ "$needed" = "libc.so.6" ] || fail "needed libraries are '$needed', not just libc.so.6"

# crtbegin's frame_dummy is the one entry every program has; more would be
# static constructors.
pointer_size=8
[ "$kind" = armhf ] && pointer_size=4
init_hex=$(readelf -SW "$exe" | awk '{ for (i = 1; i < NF; i++) if ($i == ".init_array") print $(i + 4) }')
init_size=$((0x${init_hex:-0}))
[ "$init_size" -le "$pointer_size" ] || fail ".init_array holds $init_size bytes: static constructors"

if [ "$kind" = armhf ]; then
    header=$(readelf -h "$exe")
    echo "$header" | grep -q 'Class: *ELF32' || fail "not ELF32"
    echo "$header" | grep -q 'Machine: *ARM' || fail "not ARM"
    echo "$header" | grep -q 'Version5 EABI, hard-float ABI' || fail "not EABI5 hard-float"
    attributes=$(readelf -A "$exe")
    echo "$attributes" | grep -q 'Tag_CPU_arch: v7$' || fail "Tag_CPU_arch is not v7"
    echo "$attributes" | grep -q 'Tag_CPU_arch_profile: Application' || fail "profile is not Application"
    echo "$attributes" | grep -q 'Tag_ABI_VFP_args: VFP registers' || fail "floating-point arguments not in VFP registers"
    stripped=$(mktemp)
    "$strip" -o "$stripped" "$exe"
    size=$(wc -c < "$stripped")
    rm -f "$stripped"
    [ "$size" -le 12288 ] || fail "stripped size $size bytes is over 12 KiB"
fi

[ "$failed" -eq 0 ] && echo "ok: $exe"
exit "$failed"
