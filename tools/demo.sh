#!/bin/sh
# Builds the client against a pipe in a scratch folder, starts the stand-in
# service there, sends it resume and stop, and shows what arrived.
set -eu
cd "$(dirname "$0")/.."
tools/install-deps.sh build
. tools/scratch-service.sh

build=build/demo
build_client "$build"
client="$build/src/fifo_client_1"
start_stand_in "$build" 2

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
