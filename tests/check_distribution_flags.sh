#!/bin/sh
# Flags the distribution passes in are taken as given: with Debian's own
# hardening=+all flags, _FORTIFY_SOURCE raised to 3, and warnings as errors,
# the client builds, each hardening aspect is set once and by the
# distribution alone, and the result passes hardening-check.
# Usage: check_distribution_flags.sh SOURCE_DIR
set -u
source_dir=$1
. "$(dirname "$0")/check_helpers.sh"

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS | sed 's/_FORTIFY_SOURCE=2/_FORTIFY_SOURCE=3/')"
LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
export CXXFLAGS LDFLAGS
case $CXXFLAGS in *_FORTIFY_SOURCE=3*) ;; *) echo "FAIL: no _FORTIFY_SOURCE=3 in '$CXXFLAGS'"; exit 1 ;; esac

{
    cmake -S "$source_dir" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
        -DCMAKE_COMPILE_WARNING_AS_ERROR=ON -DCMAKE_EXPORT_COMPILE_COMMANDS=ON &&
        cmake --build "$work/build" --target fifo_client_1 -- -v
} > "$work/log" 2>&1 || { cat "$work/log"; exit 1; }

compile=$(grep -m1 'control_pipe.cpp' "$work/build/compile_commands.json")
link=$(grep -E -- '-o src/fifo_client_1( |$)' "$work/log")
# count PATTERN TEXT: how often PATTERN stands in TEXT.
count() { printf '%s\n' "$2" | grep -oE -- "$1" | wc -l; }
[ "$(count '_FORTIFY_SOURCE' "$compile")" -eq 1 ] || fail "_FORTIFY_SOURCE is set more than once: $compile"
# An aspect the distribution sets is left to it; one it leaves open (stack
# clash and control-flow protection, before Debian 13) the project may add.
for aspect in '-f(no-)?stack-protector[a-z-]*' '-f(no-)?stack-clash-protection' '-f(no-)?cf-protection[=a-z]*' \
    '-W(no-)?format( |$)' '-Werror=format-security'; do
    given=$(count "$aspect" "$CXXFLAGS")
    [ "$given" -eq 0 ] || [ "$(count "$aspect" "$compile")" -eq "$given" ] ||
        fail "the project adds to the distribution's $aspect: $compile"
done
for aspect in 'z,(no)?relro' 'z,(now|lazy)'; do
    given=$(count "$aspect" "$LDFLAGS")
    [ "$given" -eq 0 ] || [ "$(count "$aspect" "$link")" -eq "$given" ] ||
        fail "the project adds to the distribution's $aspect: $link"
done
hardening-check --nocfprotection "$work/build/src/fifo_client_1" > /dev/null ||
    fail "$(hardening-check --nocfprotection "$work/build/src/fifo_client_1")"

[ "$failed" -eq 0 ] && echo "ok: the distribution's flags are taken as given"
exit "$failed"
