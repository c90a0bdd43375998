#!/bin/sh
# What one delivery costs, beside what it costs to start a program at all
# (/bin/true) and beside the shell one-liner a user would write instead:
# instructions counted by callgrind, and system calls counted by strace.
# Also the size of the stripped armhf executable. Exits 1 when a target is
# missed.
set -eu
cd "$(dirname "$0")/.."
tools/install-deps.sh bench

. tools/scratch-service.sh

build_client build/bench
quietly cmake --preset armhf -B build/bench-armhf -DBUILD_TESTING=OFF
quietly cmake --build build/bench-armhf
client=build/bench/src/fifo_client_1
# The service holds the read end for the whole run, so every open succeeds.
start_stand_in build/bench

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
i_client=$(instructions "$client" resume_music)
s_true=$(system_calls /bin/true)
s_dash=$(system_calls dash -c "$one_liner")
s_client=$(system_calls "$client" resume_music)

strip_copy="$scratch/fifo_client_1-armhf"
arm-linux-gnueabihf-strip -o "$strip_copy" build/bench-armhf/src/fifo_client_1
size_armhf=$(wc -c < "$strip_copy")

missed=0
verdict() { if [ "$1" -eq 1 ]; then echo "met"; else echo "MISSED"; missed=1; fi; }

printf '%-34s %14s %14s\n' "one delivery of resume_music" "instructions" "system calls"
printf '%-34s %14s %14s\n' "/bin/true" "$i_true" "$s_true"
printf '%-34s %14s %14s\n' "dash -c 'printf 1 > FIFO'" "$i_dash" "$s_dash"
printf '%-34s %14s %14s\n' "fifo_client_1 resume_music" "$i_client" "$s_client"
echo
ratio_true=$(awk -v a="$i_client" -v b="$i_true" 'BEGIN { printf "%.3f", a / b }')
ratio_dash=$(awk -v a="$i_client" -v b="$i_dash" 'BEGIN { printf "%.3f", a / b }')
extra_calls=$((s_client - s_true))
printf '%-44s %8s  target %-8s %s\n' "instructions vs /bin/true" "${ratio_true}x" "<= 1.05x" \
    "$(verdict "$(awk -v r="$ratio_true" 'BEGIN { print (r <= 1.05) }')")"
printf '%-44s %8s  target %-8s %s\n' "instructions vs the dash one-liner" "${ratio_dash}x" "<= 0.60x" \
    "$(verdict "$(awk -v r="$ratio_dash" 'BEGIN { print (r <= 0.60) }')")"
printf '%-44s %8s  target %-8s %s\n' "system calls beyond /bin/true" "+$extra_calls" "<= +10" \
    "$(verdict "$([ "$extra_calls" -le 10 ] && echo 1 || echo 0)")"
printf '%-44s %8s  target %-8s %s\n' "stripped armhf executable, bytes" "$size_armhf" "<= 12288" \
    "$(verdict "$([ "$size_armhf" -le 12288 ] && echo 1 || echo 0)")"
echo
echo "System calls of the client beyond the dynamic loader's start-up:"
run_clean strace -o "$scratch/trace" "$client" resume_music > /dev/null 2>&1
sed -n '/rt_sigaction/,$p' "$scratch/trace" | sed 's/^/  /'
exit "$missed"
