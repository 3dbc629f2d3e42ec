#!/usr/bin/env bash
# The demo for arm64 as a user there gets it, made on this x86-64 machine: the
# launcher cross-compiled with Debian's aarch64 compiler is an AArch64 program
# needing only glibc; assemble links the runtime from Debian's arm64 JDK 17 with
# this machine's JDK of the same version and dumps nothing; package makes the
# arm64 .deb, .rpm, .tar.gz and Flatpak. In an arm64 Debian root made by
# mmdebstrap and run through qemu's user-mode emulation, apt installs the .deb
# with what it Depends on, and a user's command there prints the version and the
# demo's report with the lighter option set; the first start makes the per-user
# class archive and the next start uses it. Published with the .deb into a
# signed repository, the Flatpak installed from it with flatpak --user, on a
# runtime of that root's libraries, prints the same through qemu. A launcher of
# the wrong CPU and --train are refused. An ordinary Swing jar's arm64 tree
# (through the entry bridge) runs there too.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/flatpak-user.sh"
source "$(dirname "$0")/repo.sh"
need_tool aarch64-linux-gnu-g++ g++-aarch64-linux-gnu
need_tool qemu-aarch64-static qemu-user-static
need_tool readelf binutils
need_tool mmdebstrap mmdebstrap
need_tool arch-test arch-test
need_tool rpm rpm
need_tool flatpak flatpak
need_tool ostree ostree
need_tool bwrap bubblewrap
need_tool gpg gnupg
need_tool python3 python3
[ "$(id -u)" = 0 ] || skip "registering qemu for arm64 programs, installing a JDK and making a root need root (tests run as root in CI)"
SOURCE=$CORVANE_TEST_SOURCE_DIR
HOST_JDK=/usr/lib/jvm/java-17-openjdk-amd64
N=$CORVANE_TEST_PACKAGE_NAME
ID=$CORVANE_TEST_PACKAGE_ID
FLATPAK_RUNTIME=org.example.CorvaneTest.Platform
FLATPAK_BRANCH=corvane-arm64

# arm64 programs run through qemu.
if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
  mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc || skip "binfmt_misc cannot be mounted here"
fi
if [ ! -e /proc/sys/fs/binfmt_misc/qemu-aarch64 ]; then
  grep -v '^#' /usr/lib/binfmt.d/qemu-aarch64.conf >/proc/sys/fs/binfmt_misc/register \
    || skip "qemu cannot be registered for arm64 programs here"
fi

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

# Debian's arm64 JDK 17, through a private apt state (the machine's is untouched).
APT="$SCRATCH/apt"
mkdir -p "$APT/state/lists/partial" "$APT/cache/archives/partial" "$APT/debs" "$APT/root"
: >"$APT/status"
arm64_apt() {
  apt-get -q -o APT::Architecture=arm64 -o APT::Architectures=arm64 -o Dir::State="$APT/state" \
    -o Dir::State::status="$APT/status" -o Dir::Cache="$APT/cache" "$@"
}
{ arm64_apt update && (cd "$APT/debs" && arm64_apt download openjdk-17-jdk-headless openjdk-17-jre-headless); } >"$APT/log" 2>&1 \
  || { fail "cannot fetch Debian's arm64 JDK: $(grep -m 2 '^E:' "$APT/log" | tr '\n' '|')"; finish; }
for deb in "$APT"/debs/*.deb; do dpkg-deb -x "$deb" "$APT/root"; done
TARGET_JDK="$APT/root/usr/lib/jvm/java-17-openjdk-arm64"
want=$(sed -n 's/^JAVA_VERSION="\(.*\)"/\1/p' "$TARGET_JDK/release")
# The linking JDK must be of the same version: the archive's newest, like the arm64 one.
if [ "$(sed -n 's/^JAVA_VERSION="\(.*\)"/\1/p' "$HOST_JDK/release" 2>/dev/null)" != "$want" ]; then
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 -y -q install openjdk-17-jdk-headless >"$SCRATCH/jdk17.log" 2>&1 \
    || { fail "cannot install openjdk-17-jdk-headless: $(tail -n 2 "$SCRATCH/jdk17.log" | tr '\n' '|')"; finish; }
fi

# The demo, assembled for arm64 with the modules it uses: half the runtime to
# link, pack three times and install under emulation.
TREE="$SCRATCH/$N"
ship() {
  "$SOURCE/tools/corvane-ship" assemble --jdk "$TARGET_JDK" --modules minimal --dest "$TREE" -q "$@" "$CORVANE_TEST_DEMO_JAR"
}
ship --launcher "$CORVANE_TEST_LAUNCHER" >"$SCRATCH/wrong.out" 2>&1 && fail "an x86-64 launcher was taken for an arm64 tree"
grep -q "is for x86_64, the JDK for aarch64" "$SCRATCH/wrong.out" || fail "the wrong launcher's refusal: $(cat "$SCRATCH/wrong.out")"
ship --launcher "$LAUNCHER" --train >"$SCRATCH/train.out" 2>&1 && fail "--train was taken for an arm64 tree"
grep -q -- "--train runs the application" "$SCRATCH/train.out" || fail "--train's refusal: $(cat "$SCRATCH/train.out")"
ship --launcher "$LAUNCHER" >"$SCRATCH/assemble.out" 2>&1 \
  || { fail "assembling for arm64 failed: $(tail -n 3 "$SCRATCH/assemble.out" | tr '\n' '|')"; finish; }
readelf -h "$TREE/jre/lib/server/libjvm.so" | grep -q 'Machine: *AArch64' \
  || fail "the tree's libjvm.so is not an AArch64 library"
[ ! -e "$TREE/jre/lib/server/classes.jsa" ] || fail "an archive was dumped for arm64 on this machine"

# Its packages, named for arm64.
OUT="$SCRATCH/packages"
"$SOURCE/tools/corvane-ship" package -q --tree "$TREE" --version 1.0 --app-id "$ID" \
  --flatpak-runtime "$FLATPAK_RUNTIME//$FLATPAK_BRANCH" --maintainer "Corvane tests <tests@corvane.example.org>" \
  --out-dir "$OUT" >"$SCRATCH/made" 2>"$SCRATCH/package.err" \
  || { fail "packaging the arm64 tree failed: $(tr '\n' '|' <"$SCRATCH/package.err")"; finish; }
DEB="$OUT/${N}_1.0_arm64.deb"
RPM="$OUT/$N-1.0-1.aarch64.rpm"
FLATPAK="$OUT/$N-1.0-aarch64.flatpak"
TAR="$OUT/$N-1.0-linux-aarch64.tar.gz"
[ "$(sort "$SCRATCH/made")" = "$(printf '%s\n' "$DEB" "$RPM" "$FLATPAK" "$TAR" | sort)" ] \
  || fail "package named $(tr '\n' ' ' <"$SCRATCH/made")"
[ "$(dpkg-deb -f "$DEB" Architecture)" = arm64 ] || fail "the .deb is for $(dpkg-deb -f "$DEB" Architecture)"
[ "$(rpm -qp --qf '%{ARCH}' "$RPM")" = aarch64 ] || fail "the rpm is for $(rpm -qp --qf '%{ARCH}' "$RPM")"

# An arm64 Debian root of this machine's release and sources, the smallest that
# apt installs into: the essential set, apt working from outside, the .deb's
# Depends from the archive and its maintainer scripts run through qemu. /usr is
# merged by links, as debootstrap does, which spares emulating usrmerge and its
# perl. In a mount namespace of its own, so that a failed run leaves nothing
# mounted.
SUITE=$(sed -n 's/^VERSION_CODENAME=//p' /etc/os-release)
SOURCES=/etc/apt/sources.list.d/debian.sources
[ -f "$SOURCES" ] || SOURCES=/etc/apt/sources.list
ROOT="$SCRATCH/root"
started=$SECONDS
timeout 900 unshare --mount --propagation private mmdebstrap --variant=essential --architectures=arm64 \
  --dpkgopt=force-unsafe-io --hook-dir=/usr/share/mmdebstrap/hooks/merged-usr \
  --include="$DEB" --hook-dir=/usr/share/mmdebstrap/hooks/file-mirror-automount \
  "$SUITE" "$ROOT" "$SOURCES" >"$SCRATCH/mmdebstrap.log" 2>&1 \
  || { fail "mmdebstrap with $DEB failed: $(grep -E '^E:' "$SCRATCH/mmdebstrap.log" | head -n 3 | tr '\n' '|')"; finish; }
note "the arm64 root with the package installed took $((SECONDS - started)) s"
[ "$(readlink "$ROOT/usr/bin/$N")" = "/opt/$N/current/corvane" ] || fail "the root has no /usr/bin/$N linking to the installed tree"

# A user of the root; its commands run with the root's /proc, in a mount
# namespace that ends with them.
echo "user:x:1000:1000:Test user:/home/user:/bin/sh" >>"$ROOT/etc/passwd"
echo "user:x:1000:" >>"$ROOT/etc/group"
mkdir -p "$ROOT/home/user" && chown 1000:1000 "$ROOT/home/user"
as_user() {
  # shellcheck disable=SC2016 # the inner shell expands them
  unshare --mount --propagation private sh -c 'mount -t proc proc "$0/proc" && exec chroot --userspec=1000:1000 "$0" "$@"' \
    "$ROOT" env -i HOME=/home/user PATH=/usr/bin:/bin timeout 300 "$@"
}
version=$(as_user "/usr/bin/$N" --version 2>&1)
[ "$version" = "Corvane $CORVANE_TEST_VERSION" ] || fail "$N --version printed '$version'"

COPY=/opt/$N/versions/1.0
STATE=$ROOT/home/user/.local/state/$N
# report_run <what>: the demo's report without a display, status 0 and nothing on standard error.
report_run() {
  rm -rf "$STATE"
  as_user "/usr/bin/$N" alpha "two words" >"$SCRATCH/report.out" 2>"$SCRATCH/report.err" </dev/null
  local status=$?
  [ "$status" = 0 ] || fail "$1: the report run ended with status $status: $(tail -n 3 "$SCRATCH/report.err" | tr '\n' '|')"
  [ -s "$SCRATCH/report.err" ] && fail "$1: the start printed on standard error: $(head -n 3 "$SCRATCH/report.err" | tr '\n' '|')"
  expect_exit_0_logged "$STATE/corvane-native.log"
}
# expect_lines <whose> <file> <regex|what>...: each regex matches a line of the file.
expect_lines() {
  local whose=$1 file=$2 row
  shift 2
  for row in "$@"; do
    grep -q -E "${row%|*}" "$file" || fail "$whose lacks ${row#*|} (wanted a line matching: ${row%|*})"
  done
}
report_run "the first start"
# line regex | what
expect_lines "the report" "$SCRATCH/report.out" \
  "^Runtime: +$want|Debian's arm64 runtime $want" \
  "^Process executable: +$COPY/corvane\$|the installed launcher as the process executable" \
  "^Java home: +$COPY/jre\$|the installed runtime as java.home" \
  "^Code source: +file:$COPY/lib/$(basename "$CORVANE_TEST_DEMO_JAR")\$|the installed jar as the demo's code source" \
  '^Arguments \(3\):$|the argument count' \
  '^ +\[2\] two words$|argument 2 with its blank' \
  "^ +CORVANE_VERSION = $CORVANE_TEST_VERSION\$|the product version" \
  "^Native log folder: +/home/user/.local/state/$N\$|the user's state folder"
grep -q "is older than .*the lighter option set" "$STATE/corvane-native.log" || fail "the first start did not take the lighter set"

CACHE=$ROOT/home/user/.cache/corvane/$N
archive=""
for _ in $(seq 1 240); do
  archive=$(find "$CACHE" -name 'app-*.jsa' 2>/dev/null | head -n 1)
  [ -n "$archive" ] && break
  sleep 1
done
[ -n "$archive" ] || { fail "the first start made no per-user archive within 240 s: $(ls "$CACHE" 2>&1)"; finish; }
report_run "the second start"
grep -q "Using the application class archive  *${archive#"$ROOT"}" "$STATE/corvane-native.log" \
  || fail "the second start did not use ${archive#"$ROOT"}: $(grep -h 'class archive' "$STATE/corvane-native.log" | tr '\n' '|')"

# An ordinary jar, not written for the launcher: its main class through the
# entry bridge, which this machine's JDK compiles for the arm64 tree.
mkdir -p "$SCRATCH/plain/app"
printf '%s\n' 'package app;' 'public class Hello {' '  public static void main(String[] args) {' \
  '    System.out.println("hello on " + System.getProperty("os.arch") + ", " + javax.swing.UIManager.getLookAndFeel().getName());' \
  '  }' '}' >"$SCRATCH/plain/app/Hello.java"
{ "$HOST_JDK/bin/javac" -d "$SCRATCH/plain/classes" "$SCRATCH/plain/app/Hello.java" \
  && "$HOST_JDK/bin/jar" --create --file "$SCRATCH/plain/hello.jar" --main-class app.Hello -C "$SCRATCH/plain/classes" . \
  && "$SOURCE/tools/corvane-ship" assemble --jdk "$TARGET_JDK" --launcher "$LAUNCHER" --modules minimal -q \
    --dest "$ROOT/opt/hello" "$SCRATCH/plain/hello.jar"; } >"$SCRATCH/hello-assemble.out" 2>&1 \
  || fail "an arm64 tree of an ordinary jar: $(tail -n 2 "$SCRATCH/hello-assemble.out" | tr '\n' '|')"
hello=$(as_user /opt/hello/corvane 2>&1)
[ "$hello" = "hello on aarch64, Metal" ] || fail "the ordinary jar's arm64 tree printed: $(head -c 300 <<<"$hello")"

# The .deb and the Flatpak published into a signed repository served on
# 127.0.0.1: the apt index for arm64 lists the package, and a user of the
# test's own installs the Flatpak from the .flatpakref, on a runtime of the
# root's libraries (the loader and what apt installed for the .deb).
trap 'repo_cleanup; cleanup_scratch' EXIT
repo_setup
KEY=$(repo_key corvane-arm64) || { fail "cannot make the throwaway signing key"; finish; }
"$SOURCE/tools/publish" --repo "$SCRATCH/www/repo" --key "$KEY" --url "$REPO_BASE/repo" "$DEB" "$FLATPAK" \
  >"$SCRATCH/publish.log" 2>&1 || { fail "tools/publish failed: $(tail -n 2 "$SCRATCH/publish.log" | tr '\n' '|')"; finish; }
grep -q -x "Package: $N" "$SCRATCH/www/repo/apt/dists/stable/main/binary-arm64/Packages" \
  || fail "the repository's arm64 index does not list $N"
rt="$SCRATCH/flatpak-runtime"
{ mkdir -p "$rt/usr/lib" && cp -a "$ROOT/usr/lib/aarch64-linux-gnu" "$ROOT/usr/lib/ld-linux-aarch64.so.1" "$rt/usr/lib/" \
  && flatpak_runtime "$rt" "$FLATPAK_RUNTIME" aarch64 "$FLATPAK_BRANCH"; } \
  || { fail "cannot make the arm64 Flatpak runtime: $(tail -n 3 "$SCRATCH/runtime.log" | tr '\n' '|')"; finish; }
as_flatpak_user flatpak --user install -y --noninteractive --arch=aarch64 --from "$REPO_BASE/repo/$N.flatpakref" \
  >"$SCRATCH/flatpak-install.log" 2>&1 \
  || { fail "flatpak install --from the .flatpakref failed: $(tail -n 3 "$SCRATCH/flatpak-install.log" | tr '\n' '|')"; finish; }
version=$(as_flatpak_user timeout 300 flatpak run --arch=aarch64 --command="$N" "$ID" --version 2>&1)
[ "$version" = "Corvane $CORVANE_TEST_VERSION" ] || fail "the Flatpak's $N --version printed '$version'"
as_flatpak_user timeout 300 flatpak run --arch=aarch64 "$ID" alpha "two words" >"$SCRATCH/flatpak.out" 2>&1 </dev/null \
  || fail "the Flatpak's report run ended with status $?: $(tail -n 3 "$SCRATCH/flatpak.out" | tr '\n' '|')"
expect_lines "the Flatpak's report" "$SCRATCH/flatpak.out" \
  "^Runtime: +$want|Debian's arm64 runtime $want" \
  "^Process executable: +/app/lib/$N/corvane\$|the launcher in /app as the process executable" \
  '^ +\[2\] two words$|argument 2 with its blank' \
  "^Native log folder: +$FLATPAK_HOME/.var/app/$ID/.local/state/$N\$|the sandbox's state folder"
finish
