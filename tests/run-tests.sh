#!/bin/sh
# Builds and tests the client six ways: as shipped, under AddressSanitizer
# and UndefinedBehaviorSanitizer, for armhf under qemu-arm, and against
# musl (static PIEs for x86-64 and armhf and a dynamic x86-64 build, each
# run by a glibc build of the suite); builds it each way an integrator
# does; builds the Debian source package natively and cross as a buildd
# would; then boots real 32-bit and 64-bit ARM kernels and runs the armhf
# build's package and test suite on each, and the static armhf client's
# checks.
# Stops at the first failing build or test.
set -eu
cd "$(dirname "$0")/.."
tools/install-deps.sh test
for preset in default sanitize armhf musl-x86_64 musl-x86_64-dynamic musl-armhf; do
    echo "==== $preset"
    cmake --workflow --preset "$preset"
done
echo "==== the integrators' builds"
sh tests/check_integrator_builds.sh .
echo "==== the Debian source package, built natively and cross for armhf"
tests/debian-package.sh
echo "==== armhf on ARM kernels: 32-bit armmp and 64-bit arm64"
tests/system/system-test.sh build/armhf build/musl-armhf
echo "==== all builds passed their tests"
