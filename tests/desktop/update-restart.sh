#!/usr/bin/env bash
# Update and restart through real packages from a signed repository under Xvfb.
# tools/publish puts version N of the demo package into a repository served on
# 127.0.0.1; apt-get installs it through a source added by hand, and it is
# started from its menu entry. N+1 is published, signed by a second key too as
# in a key rotation, and comes in with apt-get upgrade through the source entry
# the package installed (which knows the first key only); N keeps running and
# offers "Restart to update"; Ctrl+R ("Restart") brings up N+1 in a new
# process, with one window at any time, and N's copy goes by itself once N has
# ended. Then the slow end: an instance whose end hangs is killed by its
# successor after the 20 s wait, and the colour management it loads after a
# reinstall comes from its own version's copy. Removing the package leaves no
# file behind, and a repository signed by another key is refused.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/xvfb.sh"
source "$(dirname "$0")/repo.sh"
require_package_install
need_tool dpkg-deb dpkg
need_tool xdotool xdotool
need_tool xprop x11-utils
need_tool gio libglib2.0-bin
need_tool gpg gnupg
need_tool python3 python3
need_tool curl curl
require_demo_tree
source "$CORVANE_TEST_SOURCE_DIR/tools/lib/common.sh"

NAME=corvane-update-test
BASE=/opt/$NAME
TITLE="Corvane demo"
V1=$CORVANE_TEST_VERSION
V2=${V1%.*}.$((${V1##*.} + 1))
LOG="$SCRATCH/logs/corvane-native.log"
SOURCES=/etc/apt/sources.list.d/$NAME.sources
KEYRING=/usr/share/keyrings/$NAME-archive-keyring.gpg

SENTINEL=""
# shellcheck disable=SC2317 # run by the EXIT trap, which shellcheck 0.9 misses in a script ending in exit
cleanup() {
  local pid
  for pid in $(instance_pids); do kill -KILL "$pid" 2>/dev/null; done
  [ -n "$SENTINEL" ] && kill "$SENTINEL" 2>/dev/null
  dpkg-query -W "$NAME" >/dev/null 2>&1 && apt_get purge "$NAME" >/dev/null 2>&1
  repo_cleanup
  stop_xvfb
  cleanup_scratch
}
trap cleanup EXIT

# Installs the package file (apt-get options before it).
install_package() {
  apt_get install "$@" >"$SCRATCH/install.log" 2>&1 \
    || { fail "apt-get install $* failed: $(tail -n 3 "$SCRATCH/install.log" | tr '\n' '|')"; finish; }
}

# Processes whose executable lies below the package's directory.
instance_pids() {
  local exe
  for exe in /proc/[0-9]*/exe; do
    case $(readlink "$exe" 2>/dev/null) in "$BASE"/*) exe=${exe#/proc/}; echo "${exe%/exe}" ;; esac
  done
}

# A process that has ended but is not reaped yet (a zombie) counts as gone.
alive() {
  local state
  state=$(sed -n 's/^[0-9]* (.*) \(.\) .*/\1/p' "/proc/$1/stat" 2>/dev/null)
  [ -n "$state" ] && [ "$state" != Z ]
}
windows() { xdotool search --name "^$TITLE\$" 2>/dev/null; }

# Waits up to $1 s for a window whose process is not $2; sets NEW_WID and
# NEW_PID. Meanwhile there must never be two windows.
wait_new_window() {
  local limit=$(($1 * 10)) old=$2 i wid count
  NEW_WID="" NEW_PID=""
  for ((i = 0; i < limit; i++)); do
    count=$(windows | wc -l)
    [ "$count" -le 1 ] || fail "$count windows of the application at once during the hand-over"
    for wid in $(windows); do
      NEW_PID=$(window_pid "$wid" 2>/dev/null)
      if [ -n "$NEW_PID" ] && [ "$NEW_PID" != "$old" ]; then NEW_WID=$wid; return 0; fi
    done
    sleep 0.1
  done
  return 1
}

# The package of an install tree with the given launcher and version; it
# takes its updates from the repository $REPO_BASE/repo.
make_package() {  # make_package <launcher> <version>
  local tree="$SCRATCH/tree-$2"
  cp -a "$CORVANE_TEST_DEMO_TREE" "$tree" && cp "$1" "$tree/corvane" || return 1
  "$CORVANE_TEST_SOURCE_DIR/tools/package" --no-flatpak --tree "$tree" --name "$NAME" --version "$2" --out-dir "$SCRATCH" \
    --display-name "$TITLE" --app-id "org.example.${NAME//-/_}" --maintainer "Corvane tests <tests@example.org>" \
    --repository-url "$REPO_BASE/repo" --repository-key "$SCRATCH/key.asc" \
    >"$SCRATCH/package-$2.log" 2>&1 || { fail "tools/package failed: $(tail -n 3 "$SCRATCH/package-$2.log")"; return 1; }
  DEB="$SCRATCH/${NAME}_$2_amd64.deb"
}

# Adds a package file to a repository folder under $SCRATCH/www, signed by the keys.
publish() {  # publish <folder> <deb> <key>...
  local folder=$1 deb=$2 key args=()
  shift 2
  for key in "$@"; do args+=(--key "$key"); done
  "$CORVANE_TEST_SOURCE_DIR/tools/publish" --repo "$SCRATCH/www/$folder" "${args[@]}" "$deb" >"$SCRATCH/publish.log" 2>&1 \
    || { fail "tools/publish failed: $(tail -n 2 "$SCRATCH/publish.log" | tr '\n' '|')"; return 1; }
}

# The apt source entry, as the README tells a user to write it.
source_entry() {  # source_entry <URI> <keyring>
  printf 'Types: deb\nURIs: %s\nSuites: stable\nComponents: main\nArchitectures: amd64\nSigned-By: %s\n' "$1" "$2"
}

# Runs apt_repo with the arguments; a failure ends the test.
apt_repo_or_finish() {
  apt_repo "$@" >"$SCRATCH/apt.log" 2>&1 || { fail "apt-get $* failed: $(grep -E '^(E|W):' "$SCRATCH/apt.log" | head -n 3 | tr '\n' '|')"; finish; }
}

repo_setup
if ! { KEY=$(repo_key corvane-test) && OTHER_KEY=$(repo_key corvane-other) \
    && gpg --batch --armor --export "$KEY" >"$SCRATCH/key.asc"; }; then
  fail "cannot make the throwaway signing keys"; finish
fi

# Version N+1: the same sources built with another CORVANE_VERSION.
NEXT_BUILD="$CORVANE_TEST_BUILD_DIR/update-test-next"
{ corvane_configure "$NEXT_BUILD" -DCORVANE_VERSION="$V2" -DCORVANE_BUILD_TESTS=OFF \
    -DCORVANE_JDK_HOME="$CORVANE_TEST_JDK_HOME" && corvane_build "$NEXT_BUILD" corvane; } \
  || { fail "cannot build the launcher with version $V2"; finish; }
make_package "$CORVANE_TEST_LAUNCHER" "$V1" || finish
DEB1=$DEB
make_package "$NEXT_BUILD/corvane" "$V2" || finish
DEB2=$DEB
DESKTOP_FILE=$(dpkg-deb -c "$DEB1" | grep -o '\./usr/share/applications/[^ ]*\.desktop' | sed 's/^\.//')
[ -n "$DESKTOP_FILE" ] || { fail "the package has no menu entry"; finish; }
WM_CLASS_WANTED=$(dpkg-deb --fsys-tarfile "$DEB1" | tar -xO ".$DESKTOP_FILE" | sed -n 's/^StartupWMClass=//p')

start_xvfb
export CORVANE_NATIVE_LOG_DIR_OVERRIDE="$SCRATCH/logs"
[ "$CORVANE_TEST_JDK_MAJOR" -ge "$CORVANE_TEST_JDK_MINIMUM" ] || export CORVANE_AGGRESSIVE_OPTIMIZATIONS=0
mkdir -p "$SCRATCH/logs"

# Starts the application from its menu entry; sets PID and WID.
start_from_menu() {
  gio launch "$DESKTOP_FILE" >"$SCRATCH/gio.out" 2>&1 || { fail "gio launch failed: $(cat "$SCRATCH/gio.out")"; return 1; }
  wait_new_window 60 none || { fail "no window within 60 s of the menu start"; return 1; }
  PID=$NEW_PID WID=$NEW_WID
}

# The version directory the process runs from.
version_dir() { dirname "$(readlink "/proc/$1/exe")"; }

# ---- N from the repository, started from the menu, N+1 published and upgraded --

publish repo "$DEB1" "$KEY" || finish
# A publish that fails half-way (a file that is no package) leaves the folder as it was.
before=$(find "$SCRATCH/www" -printf '%P %i %s\n' | sort)
cp "$SCRATCH/key.asc" "$SCRATCH/${NAME}_9_amd64.deb"
"$CORVANE_TEST_SOURCE_DIR/tools/publish" --repo "$SCRATCH/www/repo" --key "$KEY" "$DEB2" "$SCRATCH/${NAME}_9_amd64.deb" \
  >/dev/null 2>"$SCRATCH/publish.err" && fail "tools/publish took a file that is no package"
[ "$(wc -l <"$SCRATCH/publish.err")" = 1 ] || fail "tools/publish's failure is not one line: $(tr '\n' '|' <"$SCRATCH/publish.err")"
[ "$(find "$SCRATCH/www" -printf '%P %i %s\n' | sort)" = "$before" ] || fail "a failed publish changed the repository folder"
{ [ -e "$SOURCES" ] || [ -e "$KEYRING" ]; } && { fail "$SOURCES or $KEYRING is there before the install"; finish; }
# The source added by hand: the repository's keyring and an entry that names it.
curl -fsS -o "$REPO_APT/keys/by-hand.gpg" "$REPO_BASE/repo/$NAME-archive-keyring.gpg" || fail "cannot fetch the repository's keyring"
source_entry "$REPO_BASE/repo/apt" "$REPO_APT/keys/by-hand.gpg" >"$REPO_APT/sources/by-hand.sources"
# The demo's dependencies come from Debian's own sources, which the repository's apt-get does not see.
apt_get satisfy --no-install-recommends "$(dpkg-deb -f "$DEB1" Depends)" >"$SCRATCH/install.log" 2>&1 \
  || fail "cannot install the demo's dependencies: $(tail -n 2 "$SCRATCH/install.log" | tr '\n' '|')"
apt_repo_or_finish update
apt_repo_or_finish install "$NAME"
[ "$(dpkg-query -W -f='${Version}' "$NAME")" = "$V1" ] || fail "apt-get installed $(dpkg-query -W -f='${Version}' "$NAME"), not $V1"
[ "$(cat "$SOURCES" 2>/dev/null)" = "$(source_entry "$REPO_BASE/repo/apt" "$KEYRING")" ] \
  || fail "the package's source entry $SOURCES is: $(tr '\n' '|' <"$SOURCES" 2>/dev/null)"
[ "$(key_fingerprints "$KEYRING")" = "$KEY" ] || fail "the package's keyring holds the keys $(key_fingerprints "$KEYRING"), not $KEY"
dpkg-query -W -f='${Conffiles}' "$NAME" | grep -q "^ $SOURCES " || fail "$SOURCES is not a conffile of $NAME"

start_from_menu || finish
OLD=$PID
CLASS=$(window_class "$WID")
[ "$CLASS" = "\"$WM_CLASS_WANTED\", \"$WM_CLASS_WANTED\"" ] || fail "WM_CLASS is $CLASS, the menu entry says $WM_CLASS_WANTED"
[ "$(version_dir "$OLD")" = "$BASE/versions/$V1" ] || fail "version $V1 runs from $(version_dir "$OLD"), not from its own copy"

# Signed by a second key too, as in a key rotation: the machine knows only the first.
publish repo "$DEB2" "$KEY" "$OTHER_KEY" || finish
# From now on through the source entry the package installed.
rm "$REPO_APT/sources/by-hand.sources" && ln -s "$SOURCES" "$REPO_APT/sources/"
apt_repo_or_finish update
apt_repo_or_finish upgrade
[ "$(dpkg-query -W -f='${Version}' "$NAME")" = "$V2" ] || fail "apt-get upgrade left $(dpkg-query -W -f='${Version}' "$NAME")"
alive "$OLD" || fail "installing $V2 ended the running instance"
# The running version notices the new one (current names another copy) and offers the restart.
[ -n "$(wait_window "^$TITLE: update installed\$" 30)" ] || fail "the running instance did not offer a restart within 30 s of the upgrade"
[ "$(windows)" = "$WID" ] || fail "installing $V2 changed the windows: $(windows | tr '\n' ' ')"
[ "$(readlink "$BASE/current")" = "versions/$V2" ] || fail "current points at $(readlink "$BASE/current"), not versions/$V2"

# ---- Restart: N+1 comes up, N is gone -----------------------------------------

press_restart "$WID"
if wait_new_window 60 "$OLD"; then
  NEW=$NEW_PID
  alive "$OLD" && fail "the old instance $OLD still runs beside the new window"
  [ "$(version_dir "$NEW")" = "$BASE/versions/$V2" ] || fail "the new window's process runs from $(version_dir "$NEW")"
  [ "$(window_class "$NEW_WID")" = "$CLASS" ] || fail "WM_CLASS changed from $CLASS to $(window_class "$NEW_WID")"
  grep -q "^$V2 $NEW .* run Program arguments:  --wait-for-pid $OLD --install \$" "$LOG" \
    || fail "no line of version $V2, pid $NEW with the hand-over's arguments in the log"
  exit_line=$(grep -n "^$V1 $OLD .* jvm_exit JVM: exit( 0 )" "$LOG" | cut -d: -f1)
  gone_line=$(grep -n "^$V2 $NEW .* Process $OLD has gone" "$LOG" | cut -d: -f1)
  { [ -n "$exit_line" ] && [ -n "$gone_line" ] && [ "$exit_line" -lt "$gone_line" ]; } \
    || fail "the log lacks the old instance's exit line ($exit_line) before the new one's 'has gone' ($gone_line)"
  for _ in $(seq 30); do [ -d "$BASE/versions/$V1" ] || break; sleep 1; done
  [ -d "$BASE/versions/$V1" ] && fail "versions/$V1 is still there 30 s after its last instance ended, without another configure"
else
  fail "no new window within 60 s of Ctrl+R; the log's end: $(tail -n 5 "$LOG")"
fi

# ---- the slow end, after a reinstall of N+1 -----------------------------------

for pid in $(instance_pids); do kill -KILL "$pid"; done
sleep 1
CORVANE_DEMO_SLOW_EXIT_SECONDS=120 start_from_menu || finish
SLOW=$PID
LCMS=jre/lib/liblcms.so
lcms_inode=$(stat -c %i "$BASE/$LCMS")
install_package --reinstall "$DEB2"
[ -d "$BASE/versions/$V1" ] && fail "versions/$V1 is still there with no process using it"
sleep 300 &
SENTINEL=$!
press_restart "$WID"
# The colour management that greys the window loads only now: from the
# instance's own copy, the file of its install, not the reinstalled one.
for _ in $(seq 100); do grep -q liblcms "/proc/$SLOW/maps" && break; sleep 0.1; done
mapped=$(awk '/liblcms/ { print $5, $6; exit }' "/proc/$SLOW/maps")
[ "$mapped" = "$lcms_inode $BASE/versions/$V2/$LCMS" ] \
  || fail "liblcms is mapped as '$mapped', wanted inode $lcms_inode from $BASE/versions/$V2/$LCMS"
if wait_new_window 40 "$SLOW"; then
  alive "$SLOW" && fail "the slow instance $SLOW still runs beside the new window"
  grep -q "^$V2 $NEW_PID .* Killing process pid $SLOW\$" "$LOG" || fail "the new instance did not log killing $SLOW"
  [ "$(version_dir "$NEW_PID")" = "$BASE/versions/${V2}_copy2" ] || fail "after the reinstall the new instance runs from $(version_dir "$NEW_PID")"
else
  fail "no new window within 40 s of Ctrl+R in the slow instance"
fi
kill -0 "$SENTINEL" 2>/dev/null || fail "an unrelated process died during the hand-over"
bad=$(grep -v -E '^$|^=+$|^Logger initialized$|^/|^[0-9]+(\.[0-9]+){3} [0-9]+ [0-9-]+ [0-9:.]+ [A-Z]+ |^	' "$LOG" | head -n 3)
bad=$bad$(grep -E '[^0-9.][0-9]+(\.[0-9]+){3} [0-9]+ [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:.]+ [A-Z]+ ' "$LOG" | head -n 3)
[ -z "$bad" ] || fail "log lines that are not whole: $bad"

# ---- removal leaves nothing --------------------------------------------------

for pid in $(instance_pids); do kill -KILL "$pid"; done
sleep 1
dpkg-query -L "$NAME" >"$SCRATCH/files"
purge_and_check "$NAME" "$SCRATCH/files"
{ [ -e "$SOURCES" ] || [ -e "$KEYRING" ]; } && fail "$SOURCES or $KEYRING is left after the purge"

# ---- a repository signed by another key is refused ---------------------------

publish other "$DEB1" "$OTHER_KEY" || finish
rm -rf "${REPO_APT:?}/sources/"* "${REPO_APT:?}/lists/"* && mkdir -p "$REPO_APT/lists/partial"
source_entry "$REPO_BASE/other/apt" "$REPO_APT/keys/by-hand.gpg" >"$REPO_APT/sources/other.sources"
apt_repo update >"$SCRATCH/apt.log" 2>&1 && fail "apt-get update accepted a repository signed by another key"
grep -q -E "NO_PUBKEY ${OTHER_KEY: -16}|is not signed" "$SCRATCH/apt.log" \
  || fail "apt-get update did not refuse the signature: $(grep -E '^(E|W):' "$SCRATCH/apt.log" | head -n 3 | tr '\n' '|')"
note "apt-get update refused it: $(grep -m 1 -E '^(E|W):' "$SCRATCH/apt.log")"
apt_repo install "$NAME" >"$SCRATCH/apt.log" 2>&1 && fail "apt-get install took $NAME from the repository signed by another key"
dpkg-query -W "$NAME" >/dev/null 2>&1 && fail "$NAME is installed from the repository signed by another key"
finish
