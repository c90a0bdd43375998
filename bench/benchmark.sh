#!/bin/sh
# What one delivery costs, beside what it costs to start a program at all
# (/bin/true), beside the shell one-liner a user would write instead, and
# beside the control clients of two service supervisors, daemontools' svc
# and s6's s6-svc, each writing one command into a FIFO held open by a
# reader: instructions counted by callgrind, system calls by strace. Then
# the same instruction counts on ARM: the armhf client beside Debian's armhf
# builds of the others, each under Debian's armhf callgrind inside an ARMv7
# guest (tests/system/system-test.sh --bench), where they do not depend on load.
# Also the size of the stripped armhf executable. Exits 1 when a target is
# missed.
set -eu
cd "$(dirname "$0")/.."
tools/install-deps.sh bench

. tools/scratch-service.sh

build_client build/bench
quietly cmake --preset armhf -B build/bench-armhf -DBUILD_TESTING=OFF
quietly cmake --build build/bench-armhf
# The static builds: musl static PIEs, for x86-64 with the scratch pipe,
# for armhf with the shipped one, as the ARM guest has it.
quietly cmake --preset musl-x86_64 -B build/bench-musl -DBUILD_TESTING=OFF -DCONTROL_PIPE_PATH="$pipe"
quietly cmake --build build/bench-musl
quietly cmake --preset musl-armhf -B build/bench-musl-armhf -DBUILD_TESTING=OFF
quietly cmake --build build/bench-musl-armhf
client=build/bench/src/fifo_client_1
static=build/bench-musl/src/fifo_client_1
# The service holds the read end for the whole run, so every open succeeds.
start_stand_in build/bench

# A supervised service folder for svc and s6-svc, whose control FIFO a
# second stand-in holds open and reads.
peer_dir="$scratch/peer"
mkdir -p "$peer_dir/supervise"
mkfifo "$peer_dir/supervise/control"
timeout 600 build/bench/tools/morvelin_stand_in "$peer_dir/supervise/control" > /dev/null &
peer_reader=$!
trap '[ -n "$service" ] && kill "$service" 2>/dev/null; kill "$peer_reader" 2>/dev/null; rm -rf "$scratch"' EXIT

# The same small environment for every command measured.
run_clean() { env -i PATH=/usr/bin:/bin "$@"; }

instructions() {
    run_clean valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 |
        sed -n 's/.*Collected : *\([0-9]*\).*/\1/p'
}

system_calls() {
    run_clean strace -f -o "$scratch/trace" "$@" > /dev/null 2>&1
    grep -cvE '^[0-9]+ +(\+\+\+|---)' "$scratch/trace"
}

one_liner="printf 1 > $pipe"
i_true=$(instructions /bin/true)
i_dash=$(instructions dash -c "$one_liner")
i_svc=$(instructions svc -u "$peer_dir")
i_s6=$(instructions s6-svc -u "$peer_dir")
i_client=$(instructions "$client" resume_music)
i_static=$(instructions "$static" resume_music)
s_true=$(system_calls /bin/true)
s_dash=$(system_calls dash -c "$one_liner")
s_svc=$(system_calls svc -u "$peer_dir")
s_s6=$(system_calls s6-svc -u "$peer_dir")
s_client=$(system_calls "$client" resume_music)
s_static=$(system_calls "$static" resume_music)
# Shown at the end; taken now, while the stand-in still reads the pipe.
run_clean strace -o "$scratch/client-trace" "$client" resume_music > /dev/null 2>&1

# wall_ms PROGRAM: milliseconds for 2,000 deliveries in a row, from dash,
# whose own cost per program started is small.
wall_ms() {
    started=$(date +%s%N)
    dash -c "i=0; while [ \$i -lt 2000 ]; do $1 resume_music; i=\$((i + 1)); done"
    echo $((($(date +%s%N) - started) / 1000000))
}
# Side by side, twice each, alternating; the faster of each pair counts.
w_client=$(wall_ms "$client") w_static=$(wall_ms "$static")
w_client2=$(wall_ms "$client") w_static2=$(wall_ms "$static")
[ "$w_client2" -lt "$w_client" ] && w_client=$w_client2
[ "$w_static2" -lt "$w_static" ] && w_static=$w_static2

strip_copy="$scratch/fifo_client_1-armhf"
arm-linux-gnueabihf-strip -o "$strip_copy" build/bench-armhf/src/fifo_client_1
size_armhf=$(wc -c < "$strip_copy")

# The ARM guest prints "bench: NAME INSTRUCTIONS" for each program.
tests/system/system-test.sh --bench build/bench-armhf build/bench-musl-armhf > "$scratch/arm.log" 2>&1 ||
    { cat "$scratch/arm.log"; exit 1; }
arm() { sed -n "s/^bench: $1 \([0-9]*\)\r*$/\1/p" "$scratch/arm.log"; }
a_true=$(arm true) a_dash=$(arm dash) a_svc=$(arm svc) a_s6=$(arm s6-svc) a_client=$(arm fifo_client_1)
a_static=$(arm fifo_client_1-static)

row() { printf '%-34s %14s %14s\n' "$@"; }
row "one control delivery" "instructions" "system calls"
row "/bin/true" "$i_true" "$s_true"
row "dash -c 'printf 1 > FIFO'" "$i_dash" "$s_dash"
row "svc -u DIR (daemontools)" "$i_svc" "$s_svc"
row "s6-svc -u DIR (s6)" "$i_s6" "$s_s6"
row "fifo_client_1 resume_music" "$i_client" "$s_client"
row "the same, musl static PIE" "$i_static" "$s_static"
echo
row "the same on ARMv7 (armhf)" "instructions" ""
row "/bin/true" "$a_true" ""
row "dash -c 'printf 1 > FIFO'" "$a_dash" ""
row "svc -u DIR (daemontools)" "$a_svc" ""
row "s6-svc -u DIR (s6)" "$a_s6" ""
row "fifo_client_1 resume_music" "$a_client" ""
row "the same, musl static PIE" "$a_static" ""
echo
row "2,000 deliveries from dash" "milliseconds" ""
row "fifo_client_1 (glibc, dynamic)" "$w_client" ""
row "the same, musl static PIE" "$w_static" ""
echo

missed=0
# target LABEL VALUE LIMIT: VALUE must not be above LIMIT.
target() {
    if awk -v v="$2" -v l="$3" 'BEGIN { exit !(v <= l) }'; then verdict=met; else verdict=MISSED; missed=1; fi
    printf '%-44s %8s  target <= %-6s %s\n' "$1" "$2" "$3" "$verdict"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
target "instructions vs /bin/true" "$(ratio "$i_client" "$i_true")" 1.06
target "instructions vs the dash one-liner" "$(ratio "$i_client" "$i_dash")" 0.62
target "instructions vs svc" "$(ratio "$i_client" "$i_svc")" 1.035
target "instructions vs s6-svc" "$(ratio "$i_client" "$i_s6")" 0.25
target "system calls beyond /bin/true" "$((s_client - s_true))" 12
printf '%-44s %8s\n' "ARM instructions vs /bin/true" "$(ratio "$a_client" "$a_true")"
target "ARM instructions vs the dash one-liner" "$(ratio "$a_client" "$a_dash")" 0.62
target "ARM instructions vs svc" "$(ratio "$a_client" "$a_svc")" 1.035
target "ARM instructions vs s6-svc" "$(ratio "$a_client" "$a_s6")" 0.25
target "stripped armhf executable, bytes" "$size_armhf" 12288
target "musl static PIE instructions vs /bin/true" "$(ratio "$i_static" "$i_true")" 0.03
target "ARM musl static PIE instructions vs /bin/true" "$(ratio "$a_static" "$a_true")" 0.035
target "musl static PIE wall time vs dynamic" "$(ratio "$w_static" "$w_client")" 0.6
echo
echo "System calls of the client beyond the dynamic loader's start-up:"
sed -n '/rt_sigaction/,$p' "$scratch/client-trace" | sed 's/^/  /'
exit "$missed"
