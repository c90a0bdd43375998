#!/bin/sh
# Builds the client against a pipe in a scratch folder, starts the stand-in
# service there, sends it resume and stop, and shows what arrived.
set -eu
cd "$(dirname "$0")/.."
tools/install-deps.sh build

scratch=$(mktemp -d)
service=""
trap '[ -n "$service" ] && kill "$service" 2>/dev/null; rm -rf "$scratch"' EXIT
pipe="$scratch/sock/morvelin.fifo"
mkdir "$scratch/sock"

build=build/demo
cmake --preset default -B "$build" -DBUILD_TESTING=OFF -DCONTROL_PIPE_PATH="$pipe" > "$scratch/configure.log" ||
    { cat "$scratch/configure.log"; exit 1; }
cmake --build "$build" > "$scratch/build.log" || { cat "$scratch/build.log"; exit 1; }
client="$build/src/fifo_client_1"

# Bounded, so that the demo ends even if a command were lost.
timeout 10 "$build/tools/morvelin_stand_in" "$pipe" 2 > "$scratch/received" &
service=$!
while [ ! -p "$pipe" ]; do sleep 0.05; done

echo "\$ fifo_client_1"
"$client" || echo "(exit status $?)"
echo "\$ fifo_client_1 play_music"
"$client" play_music
echo "\$ fifo_client_1 resume_music"
"$client" resume_music
echo "\$ fifo_client_1 stop_music"
"$client" stop_music

wait "$service"
service=""
echo "The stand-in service at $pipe received:"
cat "$scratch/received"
