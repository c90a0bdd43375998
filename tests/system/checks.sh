# Sourced by the guests' test scripts: a check at a time, then the one
# verdict line the host reads from the serial console.
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

# verdict: prints the verdict and powers the machine off.
verdict() {
    if [ "$failed" -eq 0 ]; then
        echo "SYSTEM TEST RESULT: PASSED"
    else
        echo "SYSTEM TEST RESULT: FAILED"
    fi
    poweroff -f
}
