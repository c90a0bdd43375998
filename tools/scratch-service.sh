# Sourced by the demo and the benchmark: a pipe in a scratch folder, the
# client built against it, and the stand-in service holding it. Sets
# $scratch and $pipe; everything is removed and stopped on exit.
scratch=$(mktemp -d)
service=""
trap '[ -n "$service" ] && kill "$service" 2>/dev/null; rm -rf "$scratch"' EXIT
mkdir "$scratch/sock"
pipe="$scratch/sock/morvelin.fifo"

# Runs a command, showing its output only when it fails.
quietly() { "$@" > "$scratch/log" 2>&1 || { cat "$scratch/log"; exit 1; }; }

# build_client DIR: the shipped build, with the pipe in the scratch folder.
build_client() {
    quietly cmake --preset default -B "$1" -DBUILD_TESTING=OFF -DCONTROL_PIPE_PATH="$pipe"
    quietly cmake --build "$1"
}

# start_stand_in DIR [COUNT]: the stand-in from build DIR, what it prints
# going to $scratch/received. Returns once the pipe exists; gives up if the
# service dies or takes over 5 s. The timeout ends it should a command be lost.
start_stand_in() {
    # shellcheck disable=SC2086 # no COUNT means no argument
    timeout 60 "$1/tools/morvelin_stand_in" "$pipe" ${2:-} > "$scratch/received" &
    service=$!
    tries=0
    while [ ! -p "$pipe" ]; do
        if ! kill -0 "$service" 2>/dev/null || [ "$tries" -ge 100 ]; then
            echo "the stand-in service did not start" >&2
            exit 1
        fi
        tries=$((tries + 1))
        sleep 0.05
    done
}
