#!/bin/sh
# Builds and tests the client three ways: as shipped, under AddressSanitizer
# and UndefinedBehaviorSanitizer, and for armhf under qemu-arm. Stops at the
# first failing build or test.
set -eu
cd "$(dirname "$0")/.."
tools/install-deps.sh test
for preset in default sanitize armhf; do
    echo "==== $preset"
    cmake --workflow --preset "$preset"
done
echo "==== all builds passed their tests"
