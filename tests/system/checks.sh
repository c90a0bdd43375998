# Sourced by the guests' test scripts: a check at a time, then the one
# verdict line the host reads from the serial console; and what both do.
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

# wait_for COMMAND...: runs COMMAND every 10 ms until it succeeds, for 500
# tries at most; fails when it never did.
wait_for() {
    tries=0
    until "$@"; do
        tries=$((tries + 1))
        [ "$tries" -lt 500 ] || return 1
        sleep 0.01
    done
}

# has_lines FILE COUNT: whether FILE holds COUNT lines or more.
has_lines() {
    [ "$(wc -l < "$1" | tr -d ' ')" -ge "$2" ]
}

# install_busybox_acpid_wiring: the shipped wiring for BusyBox's acpid, put
# in place as callers.md says.
install_busybox_acpid_wiring() {
    examples=/usr/share/doc/fifo-client-1/examples/busybox-acpid
    cp "$examples/acpi.map" /etc/acpi.map && cp "$examples/acpid.conf" /etc/acpid.conf &&
        mkdir -p /etc/acpi/fifo_client_1 &&
        cp "$examples/play_pause" "$examples/play" "$examples/stop" /etc/acpi/fifo_client_1/ &&
        chmod 0755 /etc/acpi/fifo_client_1/*
}

# verdict: prints the verdict and powers the machine off.
verdict() {
    if [ "$failed" -eq 0 ]; then
        echo "SYSTEM TEST RESULT: PASSED"
    else
        echo "SYSTEM TEST RESULT: FAILED"
    fi
    poweroff -f
}
