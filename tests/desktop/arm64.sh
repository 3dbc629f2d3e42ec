#!/usr/bin/env bash
# A tree for arm64 made on this x86-64 machine: the launcher cross-compiled with
# Debian's aarch64 compiler is an AArch64 program needing only glibc; assemble links
# the runtime from Debian's arm64 JDK 17 with this machine's JDK of the same version
# and dumps nothing; under qemu's user-mode emulation the tree runs its application
# with the lighter option set, its first start makes the per-user class archive and
# the next start uses it. A launcher of the wrong CPU and --train are refused.
source "$(dirname "$0")/lib.sh"
need_tool aarch64-linux-gnu-g++ g++-aarch64-linux-gnu
need_tool qemu-aarch64-static qemu-user-static
need_tool readelf binutils
[ "$(id -u)" = 0 ] || skip "registering qemu for arm64 programs and installing a JDK need root (tests run as root in CI)"
SOURCE=$CORVANE_TEST_SOURCE_DIR
HOST_JDK=/usr/lib/jvm/java-17-openjdk-amd64

# The launcher, cross-compiled.
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

# Debian's arm64 JDK 17 and zlib, through a private apt state (the machine's is untouched).
APT="$SCRATCH/apt"
mkdir -p "$APT/state/lists/partial" "$APT/cache/archives/partial" "$APT/debs" "$APT/root"
: >"$APT/status"
arm64_apt() {
  apt-get -q -o APT::Architecture=arm64 -o APT::Architectures=arm64 -o Dir::State="$APT/state" \
    -o Dir::State::status="$APT/status" -o Dir::Cache="$APT/cache" "$@"
}
{ arm64_apt update && (cd "$APT/debs" && arm64_apt download openjdk-17-jdk-headless openjdk-17-jre-headless zlib1g); } >"$APT/log" 2>&1 \
  || { fail "cannot fetch Debian's arm64 JDK: $(grep -m 2 '^E:' "$APT/log" | tr '\n' '|')"; finish; }
for deb in "$APT"/debs/*.deb; do dpkg-deb -x "$deb" "$APT/root"; done
TARGET_JDK="$APT/root/usr/lib/jvm/java-17-openjdk-arm64"
want=$(sed -n 's/^JAVA_VERSION="\(.*\)"/\1/p' "$TARGET_JDK/release")
# The linking JDK must be of the same version: the archive's newest, like the arm64 one.
if [ "$(sed -n 's/^JAVA_VERSION="\(.*\)"/\1/p' "$HOST_JDK/release" 2>/dev/null)" != "$want" ]; then
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 -y -q install openjdk-17-jdk-headless >"$SCRATCH/jdk17.log" 2>&1 \
    || { fail "cannot install openjdk-17-jdk-headless: $(tail -n 2 "$SCRATCH/jdk17.log" | tr '\n' '|')"; finish; }
fi

# arm64 programs run through qemu, their libraries from a root of Debian's arm64 files.
if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
  mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc || skip "binfmt_misc cannot be mounted here"
fi
if [ ! -e /proc/sys/fs/binfmt_misc/qemu-aarch64 ]; then
  grep -v '^#' /usr/lib/binfmt.d/qemu-aarch64.conf >/proc/sys/fs/binfmt_misc/register \
    || skip "qemu cannot be registered for arm64 programs here"
fi
SYSROOT="$SCRATCH/sysroot"
mkdir -p "$SYSROOT/lib"
cp -a /usr/aarch64-linux-gnu/lib/. "$APT"/root/lib/aarch64-linux-gnu/. "$SYSROOT/lib/" 2>/dev/null \
  || cp -a /usr/aarch64-linux-gnu/lib/. "$APT"/root/usr/lib/aarch64-linux-gnu/. "$SYSROOT/lib/"
export QEMU_LD_PREFIX="$SYSROOT"

# A small application, assembled for arm64.
APP="$SCRATCH/app"
mkdir -p "$APP/src/p"
printf '%s\n' 'package p; public class Hello { public static void main(String[] a) {' \
  '  System.out.println("hello " + System.getProperty("os.arch") + " " + String.join(" ", a)); } }' \
  >"$APP/src/p/Hello.java"
if ! "$HOST_JDK/bin/javac" --release 17 -d "$APP/classes" "$APP/src/p/Hello.java" \
  || ! "$HOST_JDK/bin/jar" --create --file "$APP/hello.jar" --main-class p.Hello -C "$APP/classes" .; then
  fail "cannot build the sample jar"; finish
fi
ship() { "$SOURCE/tools/corvane-ship" assemble --jdk "$TARGET_JDK" --dest "$APP/tree" -q "$@" "$APP/hello.jar"; }

ship --launcher "$CORVANE_TEST_LAUNCHER" >"$APP/wrong.out" 2>&1 && fail "an x86-64 launcher was taken for an arm64 tree"
grep -q "is for x86_64, the JDK for aarch64" "$APP/wrong.out" || fail "the wrong launcher's refusal: $(cat "$APP/wrong.out")"
ship --launcher "$LAUNCHER" --train >"$APP/train.out" 2>&1 && fail "--train was taken for an arm64 tree"
grep -q -- "--train runs the application" "$APP/train.out" || fail "--train's refusal: $(cat "$APP/train.out")"
ship --launcher "$LAUNCHER" >"$APP/assemble.out" 2>&1 \
  || { fail "assembling for arm64 failed: $(tail -n 3 "$APP/assemble.out" | tr '\n' '|')"; finish; }
readelf -h "$APP/tree/jre/lib/server/libjvm.so" | grep -q 'Machine: *AArch64' \
  || fail "the tree's libjvm.so is not an AArch64 library"
[ ! -e "$APP/tree/jre/lib/server/classes.jsa" ] || fail "an archive was dumped for arm64 on this machine"

run_tree() {
  env "${demo_env[@]}" CORVANE_NATIVE_LOG_DIR_OVERRIDE="$SCRATCH/logs-$1" timeout 300 "$APP/tree/corvane" "$1"
}
out=$(run_tree first 2>&1)
[ "$out" = "hello aarch64 first" ] || fail "the arm64 tree printed: $out"
grep -q "is older than .*the lighter option set" "$SCRATCH"/logs-first/*.log || fail "the first start did not take the lighter set"
archive=""
for _ in $(seq 1 120); do
  archive=$(find "$SCRATCH/cache/corvane/tree" -name 'app-*.jsa' 2>/dev/null | head -n 1)
  [ -n "$archive" ] && break
  sleep 1
done
[ -n "$archive" ] || fail "the first start made no per-user archive within 120 s: $(ls "$SCRATCH/cache/corvane/tree" 2>&1)"
out=$(run_tree second 2>&1)
[ "$out" = "hello aarch64 second" ] || fail "the arm64 tree's second start printed: $out"
grep -q "Using the application class archive" "$SCRATCH"/logs-second/*.log || fail "the second start did not use $archive"
finish
