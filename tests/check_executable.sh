#!/bin/sh
# Checks the shipped executable: linked dynamically, it needs no shared
# library but glibc's libc (and on armhf the dynamic loader, for the stack
# protector's canary), has no static constructors, is hardened, and on
# armhf is a small ARMv7-A hard-float program. Linked statically, it needs
# nothing at all, has no interpreter, is a static PIE where the toolchain
# links one, and has what hardening a static program can show. Clang 14 with
# glibc 2.36 calls no fortified function for what the client does, so only
# GNU builds must show one. Whatever the build, `strings` shows the pipe and
# bound it was built for on one line (the shipped ones unless given).
# Usage: check_executable.sh EXECUTABLE host|armhf STRIP GNU|Clang [dynamic|static-pie|static [PIPE BOUND_MS]]
set -u
exe=$1 kind=$2 strip=$3 compiler=$4 linkage=${5:-dynamic}
built_for="fifo_client_1 built for pipe ${6:-/app/morvelin-service/sock/morvelin.fifo}, bound ${7:-2000} ms"
. "$(dirname "$0")/check_helpers.sh"

shown=$(strings -a "$exe" | grep -c '^fifo_client_1 built for ')
[ "$shown" -eq 1 ] && strings -a "$exe" | grep -qxF "$built_for" ||
    fail "strings does not show '$built_for' once ($shown lines of its kind)"

needed=$(readelf -d "$exe" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort | tr '\n' ' ')
expected="libc.so.6 "
[ "$kind" = armhf ] && expected="ld-linux-armhf.so.3 libc.so.6 "
[ "$linkage" = dynamic ] || expected=""
[ "$needed" = "$expected" ] || fail "needed libraries are '$needed', not '$expected'"

# check_static: what a static executable can show of its hardening; its
# C library's own constructors are in it too.
check_static() {
    headers=$(readelf -hlW "$exe")
    echo "$headers" | grep -q INTERP && fail "a static executable with an interpreter"
    if [ "$linkage" = static-pie ]; then
        echo "$headers" | grep -qE 'Type: +DYN' || fail "not a static PIE"
    fi
    echo "$headers" | grep -q GNU_RELRO || fail "no RELRO segment"
    readelf -sW "$exe" | grep -q '__stack_chk_fail' || fail "no stack protector"
}

# check_dynamic: no static constructors, and the hardening.
check_dynamic() {
    # crtbegin's frame_dummy is the one entry every program has; more would be
    # static constructors.
    pointer_size=8
    [ "$kind" = armhf ] && pointer_size=4
    init_hex=$(readelf -SW "$exe" | awk '{ for (i = 1; i < NF; i++) if ($i == ".init_array") print $(i + 4) }')
    if [ -z "$init_hex" ]; then
        fail "no .init_array section found: cannot tell whether there are static constructors"
    elif [ "$((0x$init_hex))" -gt "$pointer_size" ]; then
        fail ".init_array holds $((0x$init_hex)) bytes: static constructors"
    fi

    # Hardening: PIE, full RELRO with immediate binding, stack protector,
    # _FORTIFY_SOURCE.
    if [ "$kind" = host ]; then
        # No start file of Debian 12's glibc carries the x86 IBT/SHSTK marking, so
        # no program linked there has it, /bin/true included; the client's own
        # objects are built with -fcf-protection all the same.
        skip=--nocfprotection
        [ "$compiler" = GNU ] || skip="$skip --nofortify"
        # shellcheck disable=SC2086 # the options are meant to split
        hardening-check $skip "$exe" > /dev/null || fail "$(hardening-check $skip "$exe")"
    else
        dynamic=$(readelf -dW "$exe")
        symbols=$(readelf --dyn-syms -W "$exe")
        echo "$dynamic" | grep -q 'FLAGS_1.*PIE' || fail "not a position-independent executable"
        readelf -lW "$exe" | grep -q GNU_RELRO || fail "no RELRO segment"
        echo "$dynamic" | grep -q 'FLAGS.*BIND_NOW' || fail "binding is not immediate"
        echo "$symbols" | grep -q '__stack_chk_guard' || fail "no stack protector"
        [ "$compiler" != GNU ] || echo "$symbols" | grep -qE '__[a-z]+_chk' || fail "no _FORTIFY_SOURCE function"
    fi
}

if [ "$linkage" = dynamic ]; then
    check_dynamic
else
    check_static
fi

if [ "$kind" = armhf ]; then
    header=$(readelf -h "$exe")
    echo "$header" | grep -q 'Class: *ELF32' || fail "not ELF32"
    echo "$header" | grep -q 'Machine: *ARM' || fail "not ARM"
    echo "$header" | grep -q 'Version5 EABI, hard-float ABI' || fail "not EABI5 hard-float"
    attributes=$(readelf -A "$exe")
    echo "$attributes" | grep -q 'Tag_CPU_arch: v7$' || fail "Tag_CPU_arch is not v7"
    echo "$attributes" | grep -q 'Tag_CPU_arch_profile: Application' || fail "profile is not Application"
    echo "$attributes" | grep -q 'Tag_ABI_VFP_args: VFP registers' || fail "floating-point arguments not in VFP registers"
    # A static executable holds its C library.
    if [ "$linkage" = dynamic ]; then
        "$strip" -o "$work/stripped" "$exe"
        size=$(wc -c < "$work/stripped")
        [ "$size" -le 12288 ] || fail "stripped size $size bytes is over 12 KiB"
    fi
fi

[ "$failed" -eq 0 ] && echo "ok: $exe ($linkage)"
exit "$failed"
