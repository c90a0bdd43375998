#!/bin/sh
# /init of the system test's guests, ARM machines booted from an initramfs
# of Debian's armhf userland. In test mode (fifo_client_1.mode=test on the
# kernel command line) it runs the shipped client and the whole test suite
# on the kernel it finds, a 32-bit armmp one or a 64-bit arm64 one running
# this userland in compat mode, prints each check's result and a verdict
# line for the host to read from the serial console. In bench mode it counts
# with callgrind what one delivery costs beside other programs. Then it
# powers the machine off.
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
# For the pipe whose inode number is past 32 bits, and for the key presses.
for module in overlay evdev uinput; do
    insmod "/lib/modules/$(uname -r)/$module.ko"
done
build=$(cat /etc/fifo_client_1-build)
tests=$build/tests
stand_in=$build/tools/morvelin_stand_in
client=/usr/bin/fifo_client_1
pipe=/app/morvelin-service/sock/morvelin.fifo
mode=test
case " $(cat /proc/cmdline) " in *" fifo_client_1.mode=bench "*) mode=bench ;; esac
. /checks.sh

# start_stand_in PIPE COUNT: the stand-in service holding PIPE, what it
# receives going to $scratch/received; bounded, so that a lost command
# fails a check instead of hanging it.
start_stand_in() {
    mkdir -p "${1%/*}"
    timeout 20 "$stand_in" "$1" "$2" > "$scratch/received" &
    service=$!
    wait_for test -p "$1"
}

# The kernel is the one booted (its flavour ends its release), under this
# 32-bit userland.
on_arm_kernel() {
    userland=$(head -c 5 /bin/busybox | tail -c 1 | od -An -tu1 | tr -d ' ')
    echo "kernel: $(uname -srm); userland: ELF class $userland (1: 32-bit)"
    [ "$userland" -eq 1 ] || return 1
    case $(uname -r) in
    *-arm64) [ "$(uname -m)" != armv7l ] && grep -q '^CPU architecture: 8' /proc/cpuinfo ;;
    *-armmp) [ "$(uname -m)" = armv7l ] ;;
    *) false ;;
    esac
}

delivers_to_the_service() {
    start_stand_in "$pipe" 2
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

# The time since boot in hundredths of a second, the finest /proc/uptime has.
centiseconds() {
    cut -d' ' -f1 /proc/uptime | tr -d .
}

# The stand-in has gone, so the pipe has no reader: the shipped bound is 2 s.
# The client may take what a sleep of 2 s started beside it took (a stalled
# machine stalls both), twice what it takes where there is no FIFO
# (starting and ending, here and now), a tick (6) and the clock's grain (1).
waits_out_the_bound() {
    start=$(centiseconds)
    (sleep 2 && echo $(($(centiseconds) - start)) > "$scratch/slept") &
    "$client" resume_music > "$scratch/out" 2>&1
    status=$?
    end=$(centiseconds)
    wait $!
    mv "$pipe" "$pipe.away" || return 1
    control_start=$(centiseconds)
    "$client" resume_music
    control=$(($(centiseconds) - control_start))
    mv "$pipe.away" "$pipe" || return 1
    slept=$(cat "$scratch/slept")
    echo "no reader: gave up after $((end - start))0 ms, status $status; a sleep beside it: ${slept}0 ms; with no FIFO: ${control}0 ms"
    [ "$status" -eq 0 ] && [ ! -s "$scratch/out" ] && [ $((end - start)) -ge 199 ] &&
        [ $((end - start)) -le $((slept + 2 * control + 6 + 1)) ]
}

# holds_keyboard PID: whether process PID has an input device open.
holds_keyboard() {
    ls -l "/proc/$1/fd" 2> /dev/null | grep -q /dev/input/event
}

# keys_reach_the_service EXPECTED START KEY...: a uinput keyboard, the
# hotkey daemon that the function START execs once it is there, and the
# stand-in started as a user would start it, making the FIFO afresh; then each KEY
# pressed once the previous one's command has arrived. The service must
# receive EXPECTED (its lines joined by blanks), nothing lost or doubled.
keys_reach_the_service() {
    expected=$1
    shift
    started=$(centiseconds)
    rm -f "$pipe"
    start_stand_in "$pipe" "$(echo "$expected" | wc -w | tr -d ' ')"
    rm -f "$scratch/keys" && mkfifo "$scratch/keys"
    # Read and write, so that the open waits for no reader; the keyboard's
    # input ends when this one descriptor closes, so no child may hold it.
    exec 4<> "$scratch/keys"
    "$tests/media_keys" < "$scratch/keys" 4>&- > "$scratch/keyboard" 2>&1 &
    keyboard=$!
    wait_for grep -q ready "$scratch/keyboard" && wait_for test -e /dev/input/event0 ||
        { cat "$scratch/keyboard"; exec 4>&-; return 1; }
    start=$1
    shift
    "$start" 4>&- > "$scratch/daemon.log" 2>&1 &
    daemon_pid=$!
    wait_for holds_keyboard "$daemon_pid"
    pressed=0
    for key in "$@"; do
        echo "$key" >&4
        pressed=$((pressed + 1))
        wait_for has_lines "$scratch/received" "$pressed"
    done
    kill "$daemon_pid"
    wait "$daemon_pid"
    exec 4>&-
    wait "$keyboard"
    wait "$service"
    received=$(tr '\n' ' ' < "$scratch/received")
    ended=$(centiseconds)
    echo "keys: $*; the service received: $received($((ended - started))0 ms)"
    [ "$received" = "$expected " ] || { cat "$scratch/daemon.log"; return 1; }
}

# Debian's triggerhappy as Debian's unit starts it (the glob is thd's to
# expand), with the shipped triggers file.
start_thd() {
    exec /usr/sbin/thd --triggers /etc/triggerhappy/triggers.d/ --socket /run/thd.socket --user nobody \
        --deviceglob '/dev/input/event*'
}
triggerhappy_keys() {
    mkdir -p /etc/triggerhappy/triggers.d
    cp /usr/share/doc/fifo-client-1/examples/triggerhappy/fifo_client_1.conf /etc/triggerhappy/triggers.d/
    keys_reach_the_service "resume stop resume stop resume" start_thd \
        KEY_PLAYCD KEY_STOPCD KEY_PLAYPAUSE KEY_PLAYPAUSE KEY_PLAYPAUSE
}

# Debian's acpid in its input-layer mode, with the shipped event files: its
# play/pause key toggles through fifo_client_1-key, in step with stop.
start_acpid() {
    exec /usr/sbin/acpid --foreground --netlink --confdir /etc/acpi/events --socketfile /run/acpid.socket
}
acpid_keys() {
    mkdir -p /etc/acpi/events
    cp /usr/share/doc/fifo-client-1/examples/acpid/* /etc/acpi/events/
    rm -rf /run/fifo-client-1
    keys_reach_the_service "resume stop resume stop" start_acpid KEY_PLAYPAUSE KEY_STOPCD KEY_PLAYPAUSE KEY_PLAYPAUSE
}

# BusyBox's acpid, with the shipped map, actions and action scripts
# installed as callers.md says.
start_busybox_acpid() {
    exec busybox acpid -d -c /etc/acpi
}
busybox_acpid_keys() {
    install_busybox_acpid_wiring || return 1
    rm -rf /run/fifo-client-1
    keys_reach_the_service "resume stop resume stop resume" start_busybox_acpid \
        KEY_PLAYPAUSE KEY_STOPCD KEY_PLAYPAUSE KEY_PLAYPAUSE KEY_PLAYCD
}

# fifo_client_1-key play_pause, run by BusyBox's shell with its state
# missing, garbage, unreadable (a folder) and on a read-only mount, must
# still send resume and print nothing; two presses at once must toggle
# twice, under flock.
key_script=/usr/libexec/fifo-client-1/fifo_client_1-key
toggle_states() {
    for state in missing garbage unreadable read-only two-at-once; do
        rm -rf /run/fifo-client-1
        [ "$state" = missing ] || mkdir -p /run/fifo-client-1
        case $state in
        garbage) printf 'x\377\n' > /run/fifo-client-1/last ;;
        unreadable) mkdir /run/fifo-client-1/last ;;
        read-only) mount -t tmpfs -o ro tmpfs /run/fifo-client-1 ;;
        esac
        expected=resume
        [ "$state" = two-at-once ] && expected="resume stop"
        start_stand_in "$pipe" "$(echo "$expected" | wc -w | tr -d ' ')"
        if [ "$state" = two-at-once ]; then
            out=$( (sh "$key_script" play_pause & sh "$key_script" play_pause & wait) 2>&1)
        else
            out=$(sh "$key_script" play_pause 2>&1)
        fi
        wait "$service"
        received=$(tr '\n' ' ' < "$scratch/received")
        [ "$state" = read-only ] && umount /run/fifo-client-1
        echo "toggle with its state $state: received $received, printed '$out'"
        [ "$received" = "$expected " ] && [ -z "$out" ] || return 1
    done
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

# On a 64-bit kernel an overlay with xino numbers a lower layer's FIFO past
# 32 bits, and the suite's test of such a pipe must run, not skip.
overlay_numbers_past_32_bits() {
    layers=$scratch/overlay
    mkdir -p "$layers/lower" "$layers/upper" "$layers/work" "$layers/merged"
    mount -t tmpfs tmpfs "$layers/lower" && mkfifo "$layers/lower/fifo" &&
        mount -t overlay overlay -o "lowerdir=$layers/lower,upperdir=$layers/upper,workdir=$layers/work,xino=on" \
            "$layers/merged" || return 1
    inode=$(stat -c %i "$layers/merged/fifo")
    umount "$layers/merged"
    umount "$layers/lower"
    echo "overlay inode number of a FIFO: $inode"
    # busybox's shell counts in 32 bits; awk in doubles.
    awk -v inode="$inode" 'BEGIN { exit !(inode > 4294967295) }' && ! grep -q 'SKIPPED.*inode_number_past_32_bits' "$scratch/fifo_client_1_tests.log"
}

# strace is in the guest, so the suite's rows that hold the client at its
# calls must run here, not skip.
held_rows_ran() {
    grep -q 'OK .*held' "$scratch/fifo_client_1_tests.log" && ! grep -q 'SKIPPED.*held' "$scratch/fifo_client_1_tests.log"
}

# count NAME PROGRAM...: instructions callgrind counts for one run, in the
# same small environment for every program.
count() {
    measured=$1
    shift
    env -i PATH=/usr/bin:/bin valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" > "$scratch/valgrind" 2>&1
    instructions=$(sed -n 's/.*Collected : *\([0-9]*\).*/\1/p' "$scratch/valgrind")
    echo "bench: $measured ${instructions:-none}"
    [ -n "$instructions" ] || { tail -n 20 "$scratch/valgrind"; return 1; }
}

# One delivery of the shipped client, into a FIFO its service holds open,
# beside Debian's armhf /bin/true, the dash one-liner, and daemontools' and
# s6's control clients writing into a supervise/control FIFO held open too.
measures_one_delivery() {
    start_stand_in "$pipe" 1000
    peer=$scratch/peer
    mkdir -p "$peer/supervise"
    mkfifo "$peer/supervise/control"
    timeout 600 "$stand_in" "$peer/supervise/control" > /dev/null &
    count true /bench/true &&
        count dash /bench/dash -c "printf 1 > $pipe" &&
        count svc /bench/svc -u "$peer" &&
        count s6-svc /bench/s6-svc -u "$peer" &&
        count fifo_client_1 "$client" resume_music &&
        count fifo_client_1-static /usr/local/bin/fifo_client_1 resume_music
}

check "on the kernel booted, under a 32-bit ARM userland" on_arm_kernel
if [ "$mode" = bench ]; then
    check "callgrind counts on ARM" measures_one_delivery
else
    # The package's client, and the static build's where there is one.
    for client in /usr/bin/fifo_client_1 /usr/local/bin/fifo_client_1; do
        [ -x "$client" ] || continue
        echo "client: $client"
        check "the shipped client delivers resume, and stop without /proc, to the service" delivers_to_the_service
        check "usage text and status 255" prints_usage
        check "complaint and status 0" complains
        check "no reader: the shipped bound" waits_out_the_bound
    done
    client=/usr/bin/fifo_client_1
    check "media keys through triggerhappy, run as nobody" triggerhappy_keys
    check "media keys through acpid" acpid_keys
    check "media keys through BusyBox's acpid" busybox_acpid_keys
    check "the play/pause toggle, whatever its state" toggle_states
    check "GoogleTest suite" runs_suite fifo_client_1_tests
    check "the rows that hold the client with strace ran" held_rows_ran
    check "GoogleTest load test" runs_suite fifo_client_1_load_tests
    case $(uname -r) in
    *-arm64) check "a pipe numbered past 32 bits is tested, not skipped" overlay_numbers_past_32_bits ;;
    esac
fi

verdict
