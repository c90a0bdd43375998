#!/bin/sh
# /init of the system test's guest, an ARMv7-A machine booted from an
# initramfs: runs the shipped client and the whole test suite on the ARM
# kernel, prints each check's result and a verdict line for the host to
# read from the serial console, and powers the machine off.
/bin/busybox --install -s
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
# Scratch space of its own: the test programs sit at their paths in the
# build folder, which may well lie under /tmp.
scratch=/system-test-scratch
mkdir -p "$scratch"
mount -t tmpfs -o mode=1777 tmpfs "$scratch"
export TMPDIR="$scratch"
# For the test of a pipe whose inode number is past 32 bits.
insmod /lib/modules/overlay.ko
tests=$(cat /etc/fifo_client_1-tests)
client=/usr/bin/fifo_client_1
pipe=/app/morvelin-service/sock/morvelin.fifo
failed=0

# check NAME COMMAND...: runs COMMAND and prints whether it passed.
check() {
    name=$1
    shift
    if "$@"; then
        echo "PASS: $name"
    else
        echo "FAIL: $name"
        failed=1
    fi
}

on_arm_kernel() {
    echo "kernel: $(uname -srm)"
    [ "$(uname -m)" = armv7l ]
}

delivers_to_the_service() {
    mkdir -p "${pipe%/*}"
    # Bounded, so that a lost command fails the check instead of hanging it.
    timeout 20 "$tests/../tools/morvelin_stand_in" "$pipe" 2 > "$scratch/received" &
    service=$!
    tries=0
    while [ ! -p "$pipe" ] && [ "$tries" -lt 500 ]; do
        tries=$((tries + 1))
        sleep 0.01
    done
    # The second delivery without /proc, as in early boot: the client opens
    # the path itself then.
    "$client" resume_music && umount /proc && "$client" stop_music
    delivered=$?
    mount -t proc proc /proc
    [ "$delivered" -eq 0 ] && wait "$service" &&
        [ "$(cat "$scratch/received")" = "$(printf 'resume\nstop')" ]
}

prints_usage() {
    out=$("$client" 2> "$scratch/err")
    status=$?
    expected=$(printf 'Usage:%s action\n\tresume_music\tresume play music.\n\tstop_music\tstop play music.' "$client")
    [ "$status" -eq 255 ] && [ "$out" = "$expected" ] && [ ! -s "$scratch/err" ]
}

complains() {
    out=$("$client" play_music 2> "$scratch/err")
    status=$?
    [ "$status" -eq 0 ] && [ "$out" = "Not support this action!" ] && [ ! -s "$scratch/err" ]
}

# The stand-in has gone, so the pipe has no reader: the shipped bound is 2 s.
waits_out_the_bound() {
    start=$(cut -d' ' -f1 /proc/uptime | tr -d .)
    "$client" resume_music > "$scratch/out" 2>&1
    status=$?
    end=$(cut -d' ' -f1 /proc/uptime | tr -d .)
    echo "no reader: gave up after $((end - start))0 ms, status $status"
    [ "$status" -eq 0 ] && [ ! -s "$scratch/out" ] && [ $((end - start)) -ge 195 ] && [ $((end - start)) -lt 400 ]
}

# runs_suite NAME: one GoogleTest executable, natively, its summary shown.
runs_suite() {
    (cd "$scratch" && "$tests/$1" > "$scratch/$1.log" 2>&1)
    status=$?
    grep -E '^\[  (PASSED|FAILED|SKIPPED) +\]|tests? from .* ran' "$scratch/$1.log"
    grep -A1 ': Skipped$' "$scratch/$1.log" | grep -vE ': Skipped$|^--$' | sed 's/^/  skipped because: /'
    [ "$status" -eq 0 ] || cat "$scratch/$1.log"
    return "$status"
}

check "on an ARMv7 kernel" on_arm_kernel
check "the shipped client delivers resume, and stop without /proc, to the service" delivers_to_the_service
check "usage text and status 255" prints_usage
check "complaint and status 0" complains
check "no reader: the shipped bound" waits_out_the_bound
check "GoogleTest suite" runs_suite fifo_client_1_tests
check "GoogleTest load test" runs_suite fifo_client_1_load_tests

if [ "$failed" -eq 0 ]; then
    echo "SYSTEM TEST RESULT: PASSED"
else
    echo "SYSTEM TEST RESULT: FAILED"
fi
poweroff -f
