#!/usr/bin/env bash
# The Flatpak, for a user of the test's own (HOME, XDG_DATA_HOME and
# XDG_RUNTIME_DIR in the scratch folder: the machine's Flatpak state stays
# untouched) on a throwaway runtime made of this machine's own libraries and
# fonts. tools/package makes the demo tree's bundle (asked for the GPU too);
# installed, it exports its menu entry and icon under the app id, and flatpak
# run opens the window under Xvfb with the class archive made for /app at the
# first start, the log in the sandbox's state folder; a second start hands its
# arguments over; Quit ends it with status 0; the user's options file in
# ~/.var/app/<id>/config is read at the next start. Then tools/publish imports
# that bundle into a signed Flatpak repository served on 127.0.0.1, the user
# installs it from the .flatpakref, version 2 (packaged meanwhile) is
# published and flatpak update brings it while version 1 runs on. Version 1,
# on a session bus of the test's own where the Flatpak portal is activated,
# hears of the update from the portal's update monitor and offers the restart;
# Ctrl+R ("Restart") has the portal start the latest version, version 2, and
# version 1 ends with status 0. A publish of a file that is no bundle, or of
# version 1 after version 2, is refused and changes nothing; version 2 again is
# there already.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/xvfb.sh"
source "$(dirname "$0")/repo.sh"
source "$(dirname "$0")/flatpak-user.sh"
need_tool flatpak flatpak
need_tool ostree ostree
need_tool bwrap bubblewrap
need_tool xdotool xdotool
need_tool xprop x11-utils
need_tool gpg gnupg
need_tool python3 python3
need_tool dbus-daemon dbus-daemon
[ -x /usr/libexec/flatpak-portal ] || skip "no /usr/libexec/flatpak-portal (package flatpak)"
require_demo_tree

N=$CORVANE_TEST_PACKAGE_NAME
ID=$CORVANE_TEST_PACKAGE_ID
TITLE="Corvane demo"
RUNTIME=org.example.CorvaneTest.Platform
BRANCH=corvane-test
STATE="$FLATPAK_HOME/.var/app/$ID/.local/state/$N"
LOG="$STATE/corvane-native.log"

# shellcheck disable=SC2317 # run by the EXIT trap
cleanup() {
  # The packaging of version 2 runs in a subshell: its timeout hands the signal on to tools/package.
  [ -n "$PACKAGE_PID" ] && pkill -P "$PACKAGE_PID"
  # An instance the portal started is no child of this shell; the portal ends with its bus.
  [ -n "$BUS_PID" ] && { as_flatpak_user flatpak kill "$ID" 2>/dev/null; kill "$BUS_PID" 2>/dev/null; }
  repo_cleanup
  window_test_cleanup
}
PACKAGE_PID="" BUS_PID=""
trap cleanup EXIT

# A runtime of the libraries the tree's programs load (and fontconfig, which
# the runtime's font code opens by name), the loader, the fonts, and Xlib's
# locale data (without it a window gets no WM_NAME).
make_runtime() {
  local rt="$SCRATCH/runtime" fontconfig libs
  mkdir -p "$rt/usr/lib/x86_64-linux-gnu" "$rt/usr/lib64" "$rt/usr/etc" "$rt/usr/share/fonts/truetype" || return 1
  fontconfig=$(ldconfig -p | awk '/libfontconfig\.so\.1 .*x86-64/ { print $NF; exit }')
  mapfile -t libs < <({ find "$CORVANE_TEST_DEMO_TREE" -type f \( -name '*.so' -o -perm -u+x \) -exec ldd {} + 2>/dev/null
    ldd "$fontconfig"; echo "$fontconfig"; } | grep -o '/[^ :]*\.so[.0-9]*' | grep -v "^$CORVANE_TEST_DEMO_TREE" | sort -u)
  cp -L "${libs[@]}" "$rt/usr/lib/x86_64-linux-gnu/" || return 1
  ln -s ../lib/x86_64-linux-gnu/ld-linux-x86-64.so.2 "$rt/usr/lib64/ld-linux-x86-64.so.2"
  cp -a /etc/fonts "$rt/usr/etc/" && cp -a /usr/share/fonts/truetype/dejavu "$rt/usr/share/fonts/truetype/" \
    && cp -a /usr/share/X11 "$rt/usr/share/" || return 1
  flatpak_runtime "$rt" "$RUNTIME" x86_64 "$BRANCH"
}
start=$SECONDS
make_runtime || { fail "cannot make the test's runtime: $(tail -n 3 "$SCRATCH/runtime.log" | tr '\n' '|')"; finish; }
note "runtime made and installed in $((SECONDS - start)) s ($(du -sh "$SCRATCH/runtime" | cut -f1))"

# The demo tree asked for one instance (the last of a key wins).
TREE="$SCRATCH/tree"
{ cp -a "$CORVANE_TEST_DEMO_TREE" "$TREE" && echo "single-instance=yes" >>"$TREE/lib/corvane-tree.txt"; } \
  || { fail "cannot copy the demo tree"; finish; }

# package_version <version>: the bundle in $SCRATCH/out-<version>.
package_version() {
  timeout 900 "$CORVANE_TEST_SOURCE_DIR/tools/package" -q --tree "$TREE" --name "$N" --version "$1" \
    --display-name "$TITLE" --icon "$CORVANE_TEST_SOURCE_DIR/demo/desktop/corvane-demo.svg" --app-id "$ID" \
    --maintainer "Corvane tests <tests@corvane.example.org>" --flatpak-runtime "$RUNTIME//$BRANCH" \
    --flatpak-permission --device=dri --out-dir "$SCRATCH/out-$1" >"$SCRATCH/made-$1" 2>"$SCRATCH/package-$1.err"
}
start=$SECONDS
package_version 1.0 || { fail "tools/package failed: $(cat "$SCRATCH/package-1.0.err")"; finish; }
note "tools/package with the Flatpak took $((SECONDS - start)) s"
BUNDLE="$SCRATCH/out-1.0/$N-1.0-x86_64.flatpak"
grep -q -x -F "$BUNDLE" "$SCRATCH/made-1.0" || { fail "tools/package named $(tr '\n' ' ' <"$SCRATCH/made-1.0"), not $BUNDLE"; finish; }
# Version 2 meanwhile, for the update.
package_version 2.0 &
PACKAGE_PID=$!

as_flatpak_user flatpak --user install -y --noninteractive --bundle "$BUNDLE" >"$SCRATCH/install.log" 2>&1 \
  || { fail "flatpak install --bundle failed: $(tail -n 3 "$SCRATCH/install.log" | tr '\n' '|')"; finish; }
EXPORTS="$FLATPAK_HOME/.local/share/flatpak/exports/share"
grep -q -x "Icon=$ID" "$EXPORTS/applications/$ID.desktop" 2>/dev/null \
  || fail "the exported menu entry $ID.desktop does not name the icon $ID: $(grep Icon= "$EXPORTS/applications/$ID.desktop" 2>&1)"
[ -f "$EXPORTS/icons/hicolor/scalable/apps/$ID.svg" ] || fail "no icon $ID.svg exported"
[ -f "$EXPORTS/mime/packages/$ID.xml" ] && fail "a file type definition exported for a package without file types"
as_flatpak_user flatpak info --show-permissions "$ID" >"$SCRATCH/permissions" 2>&1
for want in "sockets=x11;" "shared=ipc;" "devices=dri;" "filesystems=home;"; do
  grep -q -x -F "$want" "$SCRATCH/permissions" || fail "the permissions lack $want: $(tr '\n' ' ' <"$SCRATCH/permissions")"
done
[ "$(as_flatpak_user flatpak run --command="$N" "$ID" --version 2>&1)" = "Corvane $CORVANE_TEST_VERSION" ] \
  || fail "/app/bin/$N --version says: $(as_flatpak_user flatpak run --command="$N" "$ID" --version 2>&1 | head -n 2 | tr '\n' '|')"

# Starts the application; sets APP_PID and WID.
start_app() {
  as_flatpak_user flatpak run "$ID" >"$SCRATCH/run.out" 2>&1 </dev/null &
  APP_PID=$!
  WID=$(wait_window "^$TITLE\$" 90)
  [ -n "$WID" ] || { fail "no window within 90 s; flatpak run: $(tail -n 5 "$SCRATCH/run.out" | tr '\n' '|')"; return 1; }
}

# Clicks Quit and expects flatpak run to end with status 0; an instance the
# portal started (APP_PID empty) is to be gone from flatpak ps.
quit_app() {
  eval "$(xdotool getwindowgeometry --shell "$WID")"
  xdotool mousemove --window "$WID" $((WIDTH / 2)) $((HEIGHT - 12)) click 1
  if [ -z "$APP_PID" ]; then
    for _ in $(seq 300); do [ -z "$(running_commit)" ] && return 0; sleep 0.1; done
    fail "the instance that the portal started still runs 30 s after the click on Quit"
    return 1
  fi
  expect_end_0 "Quit"
}

# Expects flatpak run ($APP_PID) to end with status 0 within 30 s of $1.
expect_end_0() {
  wait_gone 300 "$APP_PID" || {
    fail "flatpak run did not end within 30 s of $1; the windows: $(xdotool search --name "." getwindowname %@ 2>/dev/null \
      | tr '\n' '|'); its log: $(tail -n 3 "$LOG" | tr '\n' '|'); the bus: $(tail -n 3 "$SCRATCH/bus.log" | tr '\n' '|')"
    return 1
  }
  wait "$APP_PID"
  local status=$?
  APP_PID=""
  [ "$status" = 0 ] || fail "flatpak run ended with status $status after $1"
}

# The commit the running instance of the application runs (flatpak ps shows 12 digits).
running_commit() { as_flatpak_user flatpak ps --columns=application,commit | awk -v id="$ID" '$1 == id { print $2; exit }'; }

# The user's session bus from now on, its own dbus-daemon with one service:
# the Flatpak portal, which looks for updates every 2 s (not every half hour).
# The portal starts flatpak run with the bus's environment: the display too.
start_session_bus() {
  local services="$SCRATCH/bus-services" socket="$SCRATCH/run/bus" _
  mkdir -p "$services" || return 1
  printf '[D-BUS Service]\nName=org.freedesktop.portal.Flatpak\nExec=/usr/libexec/flatpak-portal --verbose --poll-timeout=2\n' \
    >"$services/org.freedesktop.portal.Flatpak.service"
  cat >"$SCRATCH/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$socket</listen>
  <servicedir>$services</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
  flatpak_user_env+=(DBUS_SESSION_BUS_ADDRESS="unix:path=$socket" DISPLAY="$DISPLAY")
  as_flatpak_user dbus-daemon --nofork --config-file="$SCRATCH/bus.conf" >"$SCRATCH/bus.log" 2>&1 &
  BUS_PID=$!
  for _ in $(seq 100); do [ -S "$socket" ] && return 0; sleep 0.1; done
  fail "the session bus did not start: $(tail -n 3 "$SCRATCH/bus.log" | tr '\n' '|')"
  return 1
}

start_xvfb
start_app || finish
grep -q -F "Using the application class archive made at packaging /app/lib/$N/lib/app-archive.jsa" "$LOG" \
  || fail "the first start did not use the archive made for /app: $(grep -m 1 -F 'class archive made at packaging' "$LOG")"

# A second start hands its arguments to the first and ends.
as_flatpak_user timeout 60 flatpak run "$ID" second-start >"$SCRATCH/second.out" 2>&1 </dev/null \
  || fail "the second start ended with status $?: $(tail -n 3 "$SCRATCH/second.out" | tr '\n' '|')"
grep -q "Handed this start over to the running instance" "$LOG" || fail "the second start was not handed over: $(grep -m 2 'One instance\|instance at' "$LOG" | tr '\n' '|')"
[ "$(xdotool search --name "^$TITLE\$" 2>/dev/null | wc -l)" = 1 ] || fail "the second start opened a window of its own"

quit_app || finish
expect_exit_0_logged "$LOG"

# The user's options file inside the sandbox.
OPTIONS="$FLATPAK_HOME/.var/app/$ID/config/$N/jvm-options.txt"
mkdir -p "$(dirname "$OPTIONS")" && echo "-Dcorvane.test.flatpak=yes" >"$OPTIONS"
as_flatpak_user timeout 60 flatpak run --command="$N" "$ID" --print-jvm-options >"$SCRATCH/options.out" 2>&1 </dev/null
tr '\0' '\n' <"$SCRATCH/options.out" | grep -q -x -F -- "-Dcorvane.test.flatpak=yes" \
  || fail "the start in the sandbox did not read $OPTIONS: $(tr '\0' ' ' <"$SCRATCH/options.out" | head -c 300)"
rm "$OPTIONS"

# ---- from a signed repository, and an update while version 1 runs ------------

as_flatpak_user flatpak --user uninstall -y --noninteractive "$ID" >/dev/null 2>&1 || fail "flatpak uninstall failed"
repo_setup
KEY=$(repo_key corvane-test) || { fail "cannot make the throwaway signing key"; finish; }
# publish <file>: into $SCRATCH/www/repo, served at $REPO_BASE/repo.
publish() {
  "$CORVANE_TEST_SOURCE_DIR/tools/publish" --repo "$SCRATCH/www/repo" --key "$KEY" --url "$REPO_BASE/repo" "$1" \
    >"$SCRATCH/publish.log" 2>&1 || { fail "tools/publish failed: $(tail -n 2 "$SCRATCH/publish.log" | tr '\n' '|')"; return 1; }
}
start=$SECONDS
publish "$BUNDLE" || finish
note "tools/publish imported the bundle in $((SECONDS - start)) s"
# refused <file> <text>: tools/publish refuses the file in one line that says <text>,
# and the repository folder stays as it was.
refused() {
  local before
  before=$(find "$SCRATCH/www" -printf '%P %i %s\n' | sort)
  "$CORVANE_TEST_SOURCE_DIR/tools/publish" --repo "$SCRATCH/www/repo" --key "$KEY" "$1" >/dev/null 2>"$SCRATCH/publish.err" \
    && { fail "tools/publish took $(basename "$1")"; return; }
  { [ "$(wc -l <"$SCRATCH/publish.err")" = 1 ] && grep -q -F "$2" "$SCRATCH/publish.err"; } \
    || fail "tools/publish's refusal of $(basename "$1") is not one line saying '$2': $(tr '\n' '|' <"$SCRATCH/publish.err")"
  [ "$(find "$SCRATCH/www" -printf '%P %i %s\n' | sort)" = "$before" ] || fail "a refused publish changed the repository folder"
}
# A publish that fails half-way (a file that is no bundle).
cp "$SCRATCH/www/repo/key.asc" "$SCRATCH/$N-9-x86_64.flatpak"
refused "$SCRATCH/$N-9-x86_64.flatpak" "cannot import $N-9-x86_64.flatpak"
REF="$SCRATCH/www/repo/$N.flatpakref"
{ grep -q -x "Name=$ID" "$REF" && grep -q -x "Url=$REPO_BASE/repo/flatpak/" "$REF" && ! grep -q RuntimeRepo "$REF"; } \
  || fail "the .flatpakref is: $(tr '\n' '|' <"$REF" | cut -c 1-300)"
as_flatpak_user flatpak --user install -y --noninteractive --from "$REPO_BASE/repo/$N.flatpakref" >"$SCRATCH/install.log" 2>&1 \
  || { fail "flatpak install --from the .flatpakref failed: $(tail -n 3 "$SCRATCH/install.log" | tr '\n' '|')"; finish; }
V1_COMMIT=$(as_flatpak_user flatpak info --show-commit "$ID" 2>/dev/null)

start_session_bus || finish
start_app || finish
OLD_PID=$APP_PID
wait "$PACKAGE_PID" || { fail "tools/package of version 2 failed: $(cat "$SCRATCH/package-2.0.err")"; finish; }
PACKAGE_PID=""
publish "$SCRATCH/out-2.0/$N-2.0-x86_64.flatpak" || finish
# Published but not installed: the portal reports it, and nothing is offered yet.
PUBLISHED=$(ostree --repo="$SCRATCH/www/repo/flatpak" rev-parse "app/$ID/x86_64/stable" 2>&1)
for _ in $(seq 300); do grep -q "Found update .*remote: $PUBLISHED" "$SCRATCH/bus.log" && break; sleep 0.1; done
grep -q "Found update .*remote: $PUBLISHED" "$SCRATCH/bus.log" \
  || fail "the portal did not see version 2 in the repository within 30 s: $(grep -i 'update' "$SCRATCH/bus.log" | tail -n 3 | tr '\n' '|')"
sleep 1
[ -z "$(xdotool search --name "^$TITLE: update installed\$" 2>/dev/null)" ] || fail "version 1 offered a restart before the update was installed"
as_flatpak_user flatpak --user update -y --noninteractive "$ID" >"$SCRATCH/update.log" 2>&1 \
  || fail "flatpak update failed: $(tail -n 3 "$SCRATCH/update.log" | tr '\n' '|')"
V2_COMMIT=$(as_flatpak_user flatpak info --show-commit "$ID" 2>/dev/null)
{ [ -n "$V2_COMMIT" ] && [ "$V2_COMMIT" != "$V1_COMMIT" ]; } || fail "flatpak update brought no new commit ($V1_COMMIT, then $V2_COMMIT)"
kill -0 "$OLD_PID" 2>/dev/null || fail "the update ended the running version 1"
[ "$(running_commit)" = "${V1_COMMIT:0:12}" ] || fail "the running instance runs commit $(running_commit), not version 1's $V1_COMMIT"

# The portal's update monitor tells version 1, which offers the restart; the
# portal starts the latest version and version 1 ends.
[ -n "$(wait_window "^$TITLE: update installed\$" 60)" ] \
  || { fail "version 1 did not offer a restart within 60 s of the update; the bus: $(grep -i 'update\|error' "$SCRATCH/bus.log" | tail -n 3 | tr '\n' '|')"; finish; }
press_restart "$WID"
expect_end_0 "Ctrl+R (Restart)" || finish
WID=$(wait_window "^$TITLE\$" 90)
[ -n "$WID" ] || { fail "no window of the restarted application within 90 s; the bus: $(tail -n 5 "$SCRATCH/bus.log" | tr '\n' '|')"; finish; }
[ "$(running_commit)" = "${V2_COMMIT:0:12}" ] || fail "the restart runs commit $(running_commit), not version 2's $V2_COMMIT"
[ "$(xdotool search --name "^$TITLE\$" 2>/dev/null | wc -l)" = 1 ] || fail "more than one window after the restart"
quit_app

# Version 2 published again is there already; version 1 after it would move the branch back.
publish "$SCRATCH/out-2.0/$N-2.0-x86_64.flatpak" || finish
grep -q "$N-2.0-x86_64.flatpak is in the Flatpak repository already" "$SCRATCH/publish.log" \
  || fail "publishing version 2 again: $(tr '\n' '|' <"$SCRATCH/publish.log")"
[ "$(ostree --repo="$SCRATCH/www/repo/flatpak" rev-parse "app/$ID/x86_64/stable" 2>&1)" = "$PUBLISHED" ] \
  || fail "publishing version 2 again made a new commit"
refused "$BUNDLE" "is at version 2.0, newer than $N-1.0-x86_64.flatpak's 1.0"
finish
