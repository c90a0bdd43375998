#!/bin/sh
# Builds and installs the client (with DESTDIR) each way an integrator does,
# with nothing of this project's own scripts: a plain cmake without
# GoogleTest; the armhf preset without an emulator; an SDK's compiler command
# that fortifies at level 3, with warnings as errors; a toolchain file that
# finds programs only in its sysroot, as Yocto's cmake class writes one;
# Buildroot's command line; Clang for the host and for armhf, with warnings
# as errors; a `git archive` tarball unpacked inside another git repository;
# a static link asked for with -static-pie (a static PIE), and with -static
# in CXXFLAGS and LDFLAGS as Buildroot's BR2_STATIC_LIBS gives it (static,
# and configure says why it is no PIE). The Yocto-like row installs the
# recipe's wiring, each file of which must go into one package that depends
# on its daemon; the Buildroot rows, what the .mk gives with no daemon and all.
# Each install must hold what a target needs and nothing for the build host,
# built for the right machine, hardened, with no flag given twice, and its
# examples must call the program where it was installed (the plain row
# installs under another prefix than it was configured for). Also: the
# licence checksums of the Yocto recipe and the Buildroot package match
# LICENSE, the recipe's SRCREV is a commit of this history, and Buildroot is
# asked for the host CMake that the project requires. Needs no network.
# Usage: check_integrator_builds.sh SOURCE_DIR
set -u
source_dir=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/check_helpers.sh"
unset SOURCE_DATE_EPOCH CXX CXXFLAGS CPPFLAGS LDFLAGS
sysroot=/usr/arm-linux-gnueabihf

# Whether the sources are a git checkout of their own, for the recipe's
# revision and the rows that build a checkout and a release tarball of it.
is_checkout() {
    top=$(git -C "$source_dir" rev-parse --show-toplevel 2> /dev/null) && [ "$top" = "$source_dir" ]
}

# --- The recipes' licence checksums, revision and host CMake.
recipe=$(ls "$source_dir"/integration/yocto/meta-*/recipes-*/fifo-client-1/fifo-client-1_*.bb)
md5=$(sed -n 's/^LIC_FILES_CHKSUM = "file:\/\/LICENSE;md5=\([0-9a-f]*\)"$/\1/p' "$recipe")
[ "$md5" = "$(md5sum < "$source_dir/LICENSE" | cut -d' ' -f1)" ] ||
    fail "the Yocto recipe's LIC_FILES_CHKSUM ('$md5') is not LICENSE's md5"
sha=$(awk '$1 == "sha256" && $3 == "LICENSE" { print $2 }' "$source_dir/integration/buildroot/fifo-client-1/fifo-client-1.hash")
[ "$sha" = "$(sha256sum < "$source_dir/LICENSE" | cut -d' ' -f1)" ] ||
    fail "the Buildroot hash file's LICENSE line ('$sha') is not LICENSE's sha256"
cmake_needs=$(sed -n 's/^cmake_minimum_required(VERSION \([0-9]*\)\.\([0-9]*\).*/\1_\2/p' "$source_dir/CMakeLists.txt")
grep -q "^[[:space:]]*select BR2_HOST_CMAKE_AT_LEAST_$cmake_needs\([[:space:]#]\|$\)" \
    "$source_dir/integration/buildroot/fifo-client-1/Config.in" ||
    fail "the Buildroot package does not select BR2_HOST_CMAKE_AT_LEAST_$cmake_needs, as cmake_minimum_required needs"
if is_checkout; then
    srcrev=$(sed -n 's/^SRCREV = "\([0-9a-f]\{40\}\)"$/\1/p' "$recipe")
    [ -n "$srcrev" ] && git -C "$source_dir" merge-base --is-ancestor "$srcrev" HEAD 2> /dev/null ||
        fail "the Yocto recipe's SRCREV ('$srcrev') is not a commit of this history"
fi

# --- Toolchain files of the integrators' own.
cat > "$work/sdk.cmake" <<'END'
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
END
cat > "$work/sysroot-only.cmake" <<'END'
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER /usr/bin/arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER /usr/bin/arm-linux-gnueabihf-g++)
set(CMAKE_CXX_FLAGS "-march=armv7-a+fp -mfloat-abi=hard -O2 -pipe -D_FORTIFY_SOURCE=2" CACHE STRING "CXXFLAGS")
set(CMAKE_CXX_LINK_FLAGS "-Wl,-O1 -Wl,--hash-style=gnu -Wl,--as-needed -Wl,-z,relro,-z,now" CACHE STRING "LDFLAGS")
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
END
cat > "$work/clang-armhf.cmake" <<'END'
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv7-a)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET arm-linux-gnueabihf)
set(CMAKE_CXX_COMPILER_TARGET arm-linux-gnueabihf)
set(CMAKE_CXX_FLAGS_INIT "-march=armv7-a -mfpu=vfpv3-d16 -mfloat-abi=hard")
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
END

# --- One function a way: configure, build verbosely, install into $1/dest.
# build_and_install DIR [PREFIX]: the build and install of a configured
# DIR/build, under another prefix than the configured one when given.
build_and_install() {
    cmake --build "$1/build" -v && DESTDIR="$1/dest" cmake --install "$1/build" ${2:+--prefix "$2"}
}
# Installed by the plain row and the release tarball's, over the configured
# /usr/local: the files that name the program must follow.
other_prefix=/opt/fifo-client-1

build_plain() {
    src=$source_dir
    if is_checkout; then
        git clone -q "$source_dir" "$1/checkout" || return 1
        src=$1/checkout
    fi
    cmake -S "$src" -B "$1/build" -DGOOGLETEST_SOURCE_DIR=/nowhere &&
        build_and_install "$1" "$other_prefix"
}

build_armhf_preset() {
    if cmake -S "$source_dir" --preset armhf -B "$1/tested" -DCMAKE_CROSSCOMPILING_EMULATOR= > "$1/refused" 2>&1; then
        echo "FAIL: tests asked for in a cross build with no emulator, and configure went on"
        return 1
    fi
    grep -q qemu-user "$1/refused" && grep -q BUILD_TESTING=OFF "$1/refused" || {
        cat "$1/refused"
        echo "FAIL: configure stopped without saying what to install or how to turn the tests off"
        return 1
    }
    cmake -S "$source_dir" --preset armhf -B "$1/build" -DCMAKE_CROSSCOMPILING_EMULATOR= -DBUILD_TESTING=OFF &&
        build_and_install "$1"
}

build_sdk_compiler() {
    CXX="arm-linux-gnueabihf-g++ -march=armv7-a+fp -mfloat-abi=hard -D_FORTIFY_SOURCE=3" \
        CXXFLAGS="-O2 -pipe -g" LDFLAGS="-Wl,-O1 -Wl,--as-needed -Wl,-z,relro,-z,now" \
        cmake -S "$source_dir" -B "$1/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$work/sdk.cmake" \
        -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_COMPILE_WARNING_AS_ERROR=ON &&
        build_and_install "$1"
}

build_sysroot_only() {
    cmake -S "$source_dir" -B "$1/build" -G Ninja -DCMAKE_MAKE_PROGRAM=ninja -DCMAKE_TOOLCHAIN_FILE="$work/sysroot-only.cmake" \
        -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_INSTALL_SYSCONFDIR=/etc -DCMAKE_BUILD_TYPE=Release -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
        "$(sed -n "s/^EXTRA_OECMAKE += \"'\(-DFIFO_CLIENT_HOTKEY_WIRING=.*\)'\"\$/\1/p" "$recipe")" &&
        cmake --build "$1/build" -v && DESTDIR="$1/dest" cmake --build "$1/build" --target install
}

# In the source folder, as Buildroot builds (a copy of it here), with what
# the package's .mk, read with the symbols given, gives CMake and installs.
buildroot_package() {
    make -s -f - "$@" FIFO_CLIENT_1_PKGDIR="$source_dir/integration/buildroot/fifo-client-1" INSTALL=install <<'END'
space := $(subst ,, )
include $(FIFO_CLIENT_1_PKGDIR)/fifo-client-1.mk
all: ; @echo '$(FIFO_CLIENT_1_CONF_OPTS)'; $(FIFO_CLIENT_1_INSTALL_INIT_SYSV)
END
}
build_buildroot() {
    opts=$(shift && buildroot_package "$@") &&
    mkdir "$1/src" && (cd "$source_dir" && tar --exclude=./build --exclude=./.git -cf - .) | tar -xf - -C "$1/src" &&
        (cd "$1/src" && eval "set -- $opts" && cmake "$PWD" "$@" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/arm-linux-gnueabihf.cmake" \
            -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_COLOR_MAKEFILE=OFF -DBUILD_DOC=OFF -DBUILD_DOCS=OFF \
            -DBUILD_EXAMPLE=OFF -DBUILD_EXAMPLES=OFF -DBUILD_TEST=OFF -DBUILD_TESTS=OFF -DBUILD_TESTING=OFF \
            -DBUILD_SHARED_LIBS=OFF -DCMAKE_BUILD_TYPE=Release -G "Unix Makefiles") &&
        make -C "$1/src" VERBOSE=1 && make -C "$1/src" install DESTDIR="$1/dest"
}
build_buildroot_daemons() { build_buildroot "$1" TARGET_DIR="$1/dest" BR2_PACKAGE_TRIGGERHAPPY=y BR2_PACKAGE_ACPID=y \
    BR2_PACKAGE_FIFO_CLIENT_1_BUSYBOX_ACPID=y BR2_PACKAGE_FIFO_CLIENT_1_KEY_USER=y; }

build_clang_host() {
    CXX=clang++ cmake -S "$source_dir" -B "$1/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_COMPILE_WARNING_AS_ERROR=ON &&
        build_and_install "$1"
}

build_clang_armhf() {
    cmake -S "$source_dir" -B "$1/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$work/clang-armhf.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_COMPILE_WARNING_AS_ERROR=ON &&
        build_and_install "$1"
}

# The integrator's static links.
build_static_pie() {
    LDFLAGS=-static-pie cmake -S "$source_dir" -B "$1/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_COMPILE_WARNING_AS_ERROR=ON &&
        build_and_install "$1"
}

build_static_armhf() {
    CXXFLAGS=-static LDFLAGS=-static cmake -S "$source_dir" -B "$1/build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/arm-linux-gnueabihf.cmake" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_COMPILE_WARNING_AS_ERROR=ON > "$1/configure.log" 2>&1 ||
        { cat "$1/configure.log"; return 1; }
    cat "$1/configure.log"
    grep -q 'cannot link a static PIE' "$1/configure.log" && build_and_install "$1"
}

# Unpacked inside another repository, as Yocto and Buildroot unpack; built
# as the plain row builds the checkout, and installed the same to the byte.
build_release_tarball() {
    outer=$1/outer
    mkdir "$outer" && git -C "$outer" init -q &&
        GIT_AUTHOR_DATE=@1000000000 GIT_COMMITTER_DATE=@1000000000 \
            git -C "$outer" -c user.name=integrator -c user.email=integrator@example.org \
            commit -q --allow-empty -m "someone else's tree" &&
        git -C "$source_dir" archive --prefix=fifo_client_1/ HEAD | tar -xf - -C "$outer" &&
        cmake -S "$outer/fifo_client_1" -B "$1/build" -DGOOGLETEST_SOURCE_DIR=/nowhere &&
        build_and_install "$1" "$other_prefix"
}

# --- What every install must show.
expected_files="bin/fifo_client_1
libexec/fifo-client-1/fifo_client_1-key
share/bash-completion/completions/fifo_client_1
share/doc/fifo-client-1/callers.md.gz
share/doc/fifo-client-1/changelog.gz
share/doc/fifo-client-1/copyright
share/doc/fifo-client-1/examples/acpid/fifo_client_1-play-pause
share/doc/fifo-client-1/examples/acpid/fifo_client_1-stop
share/doc/fifo-client-1/examples/busybox-acpid/acpi.map
share/doc/fifo-client-1/examples/busybox-acpid/acpid.conf
share/doc/fifo-client-1/examples/busybox-acpid/play
share/doc/fifo-client-1/examples/busybox-acpid/play_pause
share/doc/fifo-client-1/examples/busybox-acpid/stop
share/doc/fifo-client-1/examples/busybox-init/S01morvelin-fifo
share/doc/fifo-client-1/examples/triggerhappy/fifo_client_1.conf
share/man/man1/fifo_client_1.1.gz"

# All wiring in /etc, with modes; /etc/default is the .mk's, in no manifest.
all_wiring="644 etc/triggerhappy/triggers.d/fifo_client_1.conf
$(printf '644 etc/acpi/events/fifo_client_1-%s\n644 etc/%s\n' play-pause acpi.map stop acpid.conf)
$(printf '755 etc/acpi/fifo_client_1/%s\n' play play_pause stop)
644 etc/default/triggerhappy"

# check_install ROW MACHINE COMPILER LINKAGE: the files, /etc, the install
# manifest (which must list them all, so that the install can be undone), the
# machine, the hardening, the program's path in the examples, and no
# hardening flag given twice on a compile or link line.
check_install() {
    dir=$work/$1
    exe=$(find "$dir/dest" -name fifo_client_1 -path '*/bin/*')
    prefix=${exe%/bin/fifo_client_1}
    files=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | sort)
    [ "$files" = "$expected_files" ] || fail "$1 installs:
$files"
    case $1 in sysroot_only) wiring=$(echo "$all_wiring" | grep -v /default/) ;; buildroot_daemons) wiring=$all_wiring ;; *) wiring= ;; esac
    etc=$(cd "$dir/dest" && find etc -type f -printf '%m %p\n' 2> /dev/null | sort)
    [ "$etc" = "$(echo "$wiring" | sort)" ] || fail "$1 installs into /etc:
$etc"
    # In the build folder, or in the source folder where Buildroot builds.
    manifest=$(ls "$dir/build/install_manifest.txt" "$dir/src/install_manifest.txt" 2> /dev/null)
    listed=$(sort "$manifest")
    [ "$listed" = "$(cd "$dir/dest" && find . -type f ! -path ./etc/default/\* | sed 's|^\.||' | sort)" ] ||
        fail "$1's install_manifest.txt lists:
$listed"
    installed=${exe#"$dir/dest"}
    key=${installed%/bin/fifo_client_1}/libexec/fifo-client-1/fifo_client_1-key
    examples=$prefix/share/doc/fifo-client-1/examples
    grep -q "^KEY_PLAYCD .* $installed resume_music\$" "$examples/triggerhappy/fifo_client_1.conf" &&
        grep -qx "client=$installed" "$prefix/libexec/fifo-client-1/fifo_client_1-key" &&
        grep -qx "action=$key stop &" "$examples/acpid/fifo_client_1-stop" &&
        grep -qx "exec $key stop" "$examples/busybox-acpid/stop" ||
        fail "$1: the examples do not call the installed $installed and $key"
    machine=$(readelf -h "$exe" | sed -n 's/^ *Machine: *//p')
    strip=strip kind=host
    if [ "$2" = armhf ]; then
        strip=arm-linux-gnueabihf-strip kind=armhf
        [ "$machine" = ARM ] || fail "$1 built for '$machine', not ARM"
    else
        [ "$machine" = "$(readelf -h /bin/true | sed -n 's/^ *Machine: *//p')" ] || fail "$1 built for '$machine'"
    fi
    sh "$here/check_executable.sh" "$exe" "$kind" "$strip" "$3" "$4" > "$dir/executable.log" ||
        fail "$1: $(cat "$dir/executable.log")"
    twice=$(grep -E 'control_pipe\.cpp|-o [^ ]*fifo_client_1( |$)' "$dir/log" |
        awk '{ f = gsub(/_FORTIFY_SOURCE/, "&"); r = gsub(/relro/, "&"); n = gsub(/z,now|z now/, "&")
               if (f > 1 || r > 1 || n > 1) print }')
    [ -z "$twice" ] || fail "$1 gives a hardening flag twice: $twice"
}

# check_recipe_split DEST: each wiring file in DEST goes into exactly one of
# the Yocto recipe's packages, one that depends on its daemon.
check_recipe_split() {
    for path in $(cd "$1" && find etc -type f); do
        owner=$(sed -n 's/^FILES:\${PN}-\([a-z-]*\) = "\(.*\)"$/\1 \2/p' "$recipe" | sed 's|\${sysconfdir}|/etc|g' |
            awk -v p="/$path" '{ for (i = 2; i <= NF; i++) if (p == $i || index(p, $i "/") == 1) { n++; o = $1 } } END { if (n == 1) print o }')
        grep -q "^RDEPENDS:\${PN}-$owner = \".*\b${owner%%-*}\b" "$recipe" ||
            fail "the recipe puts /$path into '$owner', not one package that depends on its daemon"
    done
}

# row  machine  compiler  linkage
rows="plain host GNU dynamic
armhf_preset armhf GNU dynamic
sdk_compiler armhf GNU dynamic
sysroot_only armhf GNU dynamic
buildroot armhf GNU dynamic
buildroot_daemons armhf GNU dynamic
clang_host host Clang dynamic
clang_armhf armhf Clang dynamic
release_tarball host GNU dynamic
static_pie host GNU static-pie
static_armhf armhf GNU static"

echo "$rows" | while read -r row machine compiler linkage; do
    echo "$row" >> "$work/rows"
    if [ "$row" = release_tarball ] && ! is_checkout; then
        echo "skipped: $row (the sources are not a git checkout of their own)"
        continue
    fi
    mkdir -p "$work/$row"
    started=$(date +%s)
    # Not the table's input: a command that reads it would swallow the rows.
    if ! "build_$row" "$work/$row" < /dev/null > "$work/$row/log" 2>&1; then
        tail -n 30 "$work/$row/log"
        echo "FAIL: $row did not build and install"
        echo 1 > "$work/failed"
        continue
    fi
    failed=0
    check_install "$row" "$machine" "$compiler" "$linkage"
    [ "$row" = sysroot_only ] && check_recipe_split "$work/$row/dest"
    if [ "$row" = release_tarball ]; then
        diff -r "$work/plain/dest" "$work/release_tarball/dest" > /dev/null ||
            fail "the release tarball installs other files than the checkout of its commit:
$(diff -r "$work/plain/dest" "$work/release_tarball/dest" 2>&1 | head -n 5)"
    fi
    [ "$failed" -eq 0 ] && echo "ok: $row ($(($(date +%s) - started)) s)" || echo 1 > "$work/failed"
done
[ -e "$work/failed" ] && failed=1
# The loop runs in a subshell of its own: what it did is read off its files.
ran=$(cat "$work/rows" 2> /dev/null | wc -l)
[ "$ran" -eq "$(echo "$rows" | wc -l)" ] || fail "only $ran of the $(echo "$rows" | wc -l) rows ran"
[ "$failed" -eq 0 ] && echo "ok: every integrator build"
exit "$failed"
