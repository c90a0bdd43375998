#!/bin/sh
# The armhf package is reproducible: built twice with the same
# SOURCE_DATE_EPOCH, in different folders under umasks 022 and 002, it comes
# out the same to the byte. Without SOURCE_DATE_EPOCH its dates, and the
# manual page's, are those of the last commit.
# Usage: check_reproducible.sh SOURCE_DIR
set -u
source_dir=$1
. "$(dirname "$0")/check_helpers.sh"

# package DIR UMASK: configures, builds and packages the client in DIR.
package() {
    (
        umask "$2"
        cmake -S "$source_dir" --preset armhf -B "$1" -DBUILD_TESTING=OFF &&
            cmake --build "$1" &&
            cpack -G DEB --config "$1/CPackConfig.cmake" -B "$1/package"
    ) > "$work/log" 2>&1 || { cat "$work/log"; exit 1; }
    ls "$1"/package/*.deb
}

first=$(SOURCE_DATE_EPOCH=1700000000 package "$work/first" 022) || exit 1
second=$(SOURCE_DATE_EPOCH=1700000000 package "$work/elsewhere/second" 002) || exit 1
cmp "$first" "$second" > /dev/null || fail "the two packages differ: $(cmp "$first" "$second")"

if commit_date=$(git -C "$source_dir" log -1 --format=%ct 2> /dev/null) && [ -n "$commit_date" ]; then
    third=$(unset SOURCE_DATE_EPOCH; package "$work/third" 022) || exit 1
    dates=$(dpkg-deb --fsys-tarfile "$third" | tar -tv --full-time | awk '{ print $4 " " $5 }' | sort -u)
    expected=$(date -u -d "@$commit_date" '+%Y-%m-%d %H:%M:%S')
    [ "$dates" = "$expected" ] || fail "entries are dated '$dates', not the last commit's '$expected'"
    manual_date=$(sed -n 's/^\.TH [^ ]* [^ ]* \([^ ]*\) .*/\1/p' "$work/third/doc/fifo_client_1.1")
    [ "$manual_date" = "$(date -u -d "@$commit_date" +%Y-%m-%d)" ] || fail "the manual page is dated $manual_date"
else
    echo "not a git checkout: the date of the last commit is not checked"
fi

[ "$failed" -eq 0 ] && echo "ok: reproducible"
exit "$failed"
