#!/bin/sh
# The system test's BusyBox device: a root with nothing from Debian but
# busybox-static and the kernel's modules, booted with BusyBox's init as
# PID 1, whose rcS has run the shipped init script. Run by init once; with
# the shipped wiring installed as callers.md says, it checks that the FIFO
# is as the script made it, that BusyBox's acpid delivers the keys pressed
# to the stand-in run as the service's user, and that a caller in the
# FIFO's group delivers through su while one outside it is refused and
# returns at once. Then it prints the verdict and powers off.
pipe=/app/morvelin-service/sock/morvelin.fifo
. /etc/checks.sh

# owned_so PATH MODE UID GID: what `ls -ln` shows of PATH.
owned_so() {
    set -- "$@" $(ls -lnd "$1")
    echo "$1: $5 $7 $8"
    [ "$5" = "$2" ] && [ "$7" = "$3" ] && [ "$8" = "$4" ]
}
made_by_the_init_script() {
    owned_so /app/morvelin-service drwxr-xr-x 0 0 &&
        owned_so /app/morvelin-service/sock drwxr-x--- 100 100 &&
        owned_so "$pipe" prw--w---- 100 100
}

# received COUNT: waits for the stand-in to have printed COUNT commands,
# and shows what it has.
received() {
    wait_for has_lines /tmp/received "$1"
    tr '\n' ' ' < /tmp/received
}

acpid_holds_the_keyboard() {
    ls -l "/proc/$(pidof acpid)/fd" 2> /dev/null | grep -q /dev/input/event0
}

keys_through_busybox_acpid() {
    install_busybox_acpid_wiring && mkfifo /tmp/keys && exec 4<> /tmp/keys || return 1
    media_keys < /tmp/keys 4>&- > /tmp/keyboard 2>&1 &
    wait_for grep -q ready /tmp/keyboard && wait_for test -e /dev/input/event0 || return 1
    acpid 4>&-
    wait_for acpid_holds_the_keyboard || return 1
    pressed=0
    for key in KEY_PLAYPAUSE KEY_STOPCD KEY_PLAYPAUSE KEY_PLAYPAUSE; do
        echo "$key" >&4
        pressed=$((pressed + 1))
        got=$(received "$pressed")
    done
    echo "keys: play/pause, stop, play/pause, play/pause; the service received: $got"
    [ "$got" = "resume stop resume stop " ]
}

# The bound is 2 s: a refused call must return long before.
callers_through_su() {
    su -s /bin/sh -c '/usr/bin/fifo_client_1 resume_music' morvelin-keys || return 1
    got=$(received 5)
    start=$(cut -d' ' -f1 /proc/uptime | tr -d .)
    su -s /bin/sh -c '/usr/bin/fifo_client_1 resume_music' outsider
    status=$?
    took=$(($(cut -d' ' -f1 /proc/uptime | tr -d .) - start))
    su -s /bin/sh -c '/usr/bin/fifo_client_1 stop_music' morvelin-keys
    got=$(received 6)
    echo "outsider: status $status after ${took}0 ms; the service received: $got"
    [ "$status" -eq 0 ] && [ "$took" -lt 200 ] && [ "$got" = "resume stop resume stop resume stop " ]
}

echo "kernel: $(uname -srm); PID 1: $(cat /proc/1/comm)"
check "the FIFO and its folder as the init script made them" made_by_the_init_script
# The stand-in as the service's own user, keeping the FIFO the script made;
# a client that comes first waits for it.
su -s /bin/sh -c "morvelin_stand_in $pipe 6 > /tmp/received" morvelin &
check "media keys through BusyBox's acpid, under BusyBox's init" keys_through_busybox_acpid
check "a caller in the FIFO's group delivers through su; one outside it is refused at once" callers_through_su

verdict
