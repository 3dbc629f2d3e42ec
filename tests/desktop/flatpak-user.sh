# shellcheck shell=bash
# Helpers of the tests that install Flatpaks: a user of the test's own (HOME,
# the XDG folders and XDG_RUNTIME_DIR in the scratch folder, no session bus),
# so that the machine's Flatpak state stays untouched, and a throwaway runtime
# for it. Source after lib.sh.
FLATPAK_HOME="$SCRATCH/home"
flatpak_user_env=(HOME="$FLATPAK_HOME" XDG_DATA_HOME="$FLATPAK_HOME/.local/share"
  XDG_CONFIG_HOME="$FLATPAK_HOME/.config" XDG_CACHE_HOME="$FLATPAK_HOME/.cache"
  XDG_STATE_HOME="$FLATPAK_HOME/.local/state" XDG_RUNTIME_DIR="$SCRATCH/run" DBUS_SESSION_BUS_ADDRESS=)
as_flatpak_user() { env -u CORVANE_NATIVE_LOG_DIR_OVERRIDE "${flatpak_user_env[@]}" "$@"; }
{ mkdir -p "$FLATPAK_HOME" && mkdir -m 700 "$SCRATCH/run"; } || { fail "cannot make the Flatpak user's folders"; finish; }

# flatpak_runtime <dir> <id> <arch> <branch>: <dir>/usr exported as the runtime
# <id>/<arch>/<branch> and installed for the user; flatpak's output in
# $SCRATCH/runtime.log.
flatpak_runtime() {
  local dir=$1 id=$2 arch=$3 branch=$4
  mkdir -p "$dir/files" || return 1
  printf '[Runtime]\nname=%s\nruntime=%s/%s/%s\n' "$id" "$id" "$arch" "$branch" >"$dir/metadata"
  flatpak build-export --runtime --arch="$arch" "$SCRATCH/runtime-repo" "$dir" "$branch" >"$SCRATCH/runtime.log" 2>&1 \
    && as_flatpak_user flatpak --user remote-add --if-not-exists --no-gpg-verify corvane-test-runtime "$SCRATCH/runtime-repo" \
    && as_flatpak_user flatpak --user install -y --noninteractive --arch="$arch" corvane-test-runtime "$id//$branch" \
      >>"$SCRATCH/runtime.log" 2>&1
}
