#!/usr/bin/env bash
# The launcher for arm64 machines: cross-compiled with Debian's aarch64 compiler
# through the project's toolchain file, it is an AArch64 executable that needs only
# glibc, and run under qemu's user-mode
# emulation it answers --version as the x86-64 build does.
source "$(dirname "$0")/lib.sh"
need_tool aarch64-linux-gnu-g++ g++-aarch64-linux-gnu
need_tool qemu-aarch64-static qemu-user-static
need_tool readelf binutils
SOURCE=$CORVANE_TEST_SOURCE_DIR
BUILD="$SCRATCH/build"
if ! cmake -S "$SOURCE" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DCORVANE_BUILD_TESTS=OFF \
     -DCORVANE_JDK_HOME="$CORVANE_TEST_JDK_HOME" -DCMAKE_TOOLCHAIN_FILE="$SOURCE/cmake/toolchains/aarch64-linux-gnu.cmake" \
     >"$SCRATCH/configure.log" 2>&1; then
  fail "configuring the arm64 build failed: $(tail -n 5 "$SCRATCH/configure.log" | tr '\n' '|')"; finish
fi
cmake --build "$BUILD" --target corvane -j 2 >"$SCRATCH/build.log" 2>&1 \
  || { fail "the arm64 build failed: $(grep -m 3 -E 'error|Error' "$SCRATCH/build.log" | tr '\n' '|')"; finish; }
LAUNCHER="$BUILD/corvane"

machine=$(readelf -h "$LAUNCHER" | sed -n 's/^ *Machine: *//p')
[ "$machine" = "AArch64" ] || fail "the cross-built launcher is for '$machine', not AArch64"
needed=$(readelf -d "$LAUNCHER" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort | tr '\n' ' ')
[ "$needed" = "ld-linux-aarch64.so.1 libc.so.6 libm.so.6 " ] || fail "the arm64 launcher needs: $needed"

version=$(qemu-aarch64-static -L /usr/aarch64-linux-gnu "$LAUNCHER" --version 2>&1)
[ "$version" = "Corvane $CORVANE_TEST_VERSION" ] || fail "under qemu, --version says: $version"
finish
