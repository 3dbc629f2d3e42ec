#!/usr/bin/env bash
# The Maven plugin as a Maven user meets it: built offline (Debian's Maven and its
# packaged plugins, a private local repository), mvn -o package of a Swing sample with
# one runtime dependency leaves its .deb and .rpm in target/ (tools/corvane-ship and the
# build's launcher given through the plugin's parameters); the .deb installs, its
# command opens the window of the installed launcher, and purging leaves no file. A
# name the command refuses fails the Maven build with the command's own message.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/xvfb.sh"
require_package_install
need_tool mvn maven
need_tool xdotool xdotool
need_tool xprop x11-utils
SOURCE=$CORVANE_TEST_SOURCE_DIR
N=corvane-maven-sample
JAR="$SCRATCH/sample/target/$N-1.0.jar"
[ ! -e "/opt/$N" ] || { fail "/opt/$N is there before the test: an earlier run left it"; finish; }

# A local repository of links to Debian's (never written through), then the plugin.
REPO="$SCRATCH/repo"
cp -as /usr/share/maven-repo/. "$REPO" || { fail "cannot link Debian's Maven repository into $REPO"; finish; }
"$SOURCE/maven-plugin/install-into" "$REPO" >/dev/null 2>"$SCRATCH/install-into.err" \
  || { fail "maven-plugin/install-into failed: $(tr '\n' '|' <"$SCRATCH/install-into.err")"; finish; }
cp -r "$SOURCE/tests/desktop/maven-sample" "$SCRATCH/sample"
printf '<settings/>\n' >"$SCRATCH/settings.xml"
# mvn -o package of the sample with the arguments "$@"; the plugin's version is the
# product's, so a plugin pom that names another is not found.
mvn_package() {
  (cd "$SCRATCH/sample" && JAVA_HOME="$CORVANE_TEST_JDK_HOME" timeout 600 mvn -o -B -s "$SCRATCH/settings.xml" \
    -Dmaven.repo.local="$REPO" -Dcorvane.plugin.version="$CORVANE_TEST_VERSION" \
    -Dcorvane.shipCommand="$SOURCE/tools/corvane-ship" -Dcorvane.launcher="$CORVANE_TEST_LAUNCHER" \
    -Dcorvane.jdk="$CORVANE_TEST_JDK_HOME" -Dcorvane.flatpak=false "$@" package) </dev/null
}

# A refusal is the command's: the same line as corvane-ship gives for that name.
if mvn_package -Dcorvane.name=Bad_Name >"$SCRATCH/refused.log" 2>&1; then
  fail "mvn package with the name Bad_Name succeeded"
else
  "$SOURCE/tools/corvane-ship" assemble --launcher="$CORVANE_TEST_LAUNCHER" --jdk="$CORVANE_TEST_JDK_HOME" \
    --dest="$SCRATCH/bad" --name=Bad_Name "$JAR" 2>"$SCRATCH/direct.err" </dev/null
  want=$(tail -n 1 "$SCRATCH/direct.err")
  { [ -n "$want" ] && grep -q -F "on project $N: $want" "$SCRATCH/refused.log"; } \
    || fail "the failed build does not end with corvane-ship's message '$want': $(grep -m 1 '^\[ERROR\]' "$SCRATCH/refused.log")"
fi

mvn_package >"$SCRATCH/package.log" 2>&1 \
  || { fail "mvn package failed: $(grep -m 3 '^\[ERROR\]' "$SCRATCH/package.log" | tr '\n' '|')"; finish; }
DEB="$SCRATCH/sample/target/${N}_1.0_amd64.deb"
RPM="$SCRATCH/sample/target/$N-1.0-1.x86_64.rpm"
[ -f "$RPM" ] || fail "no $RPM after mvn package: $(ls "$SCRATCH/sample/target")"
[ -f "$DEB" ] || { fail "no $DEB after mvn package: $(ls "$SCRATCH/sample/target")"; finish; }

trap package_test_cleanup EXIT
apt_get install "$DEB" >"$SCRATCH/install.log" 2>&1 || { fail "apt-get install $DEB failed: $(tail -n 3 "$SCRATCH/install.log" | tr '\n' '|')"; finish; }
dpkg-query -L "$N" >"$SCRATCH/files" || fail "dpkg knows no files of $N"
mkdir -p "$SCRATCH/logs"
start_xvfb
# The title comes through the runtime dependency: no window without its jar.
env "${demo_env[@]}" "/usr/bin/$N" >"$SCRATCH/app.out" 2>&1 </dev/null &
APP_PID=$!
WID=$(wait_window "^Corvane maven sample\$" 60)
if [ -z "$WID" ]; then
  fail "no window 'Corvane maven sample' within 60 s of /usr/bin/$N: $(tail -n 3 "$SCRATCH/app.out" | tr '\n' '|')"
else
  pid=$(window_pid "$WID")
  [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = "/opt/$N/versions/1.0/corvane" ] \
    || fail "the window's process $pid is $(readlink "/proc/$pid/exe" 2>/dev/null), not /opt/$N/versions/1.0/corvane"
  "$CORVANE_TEST_WM_CLOSE" "$WID" || fail "cannot send WM_DELETE_WINDOW to $WID"
  wait_gone 300 "$APP_PID" || fail "the application did not end within 30 s of the close request"
fi
kill -KILL "$APP_PID" 2>/dev/null
wait "$APP_PID" 2>/dev/null
APP_PID=""
stop_xvfb
purge_and_check "$N" "$SCRATCH/files"
finish
