# shellcheck shell=bash
# Shared helpers of the desktop test scripts. Source, don't run.
# The CTest environment gives CORVANE_TEST_* (see CMakeLists.txt).
set -uo pipefail

TEST_NAME=$(basename "${BASH_SOURCE[1]}" .sh)
FAILURES=0

note() { printf '%s: %s\n' "$TEST_NAME" "$*"; }
fail() { printf '%s: FAIL: %s\n' "$TEST_NAME" "$*"; FAILURES=$((FAILURES + 1)); }
skip() { printf '%s: SKIPPED: %s\n' "$TEST_NAME" "$*"; exit 77; }
finish() {
  if [ "$FAILURES" -gt 0 ]; then
    note "$FAILURES check(s) failed"; exit 1
  fi
  note "all checks passed"; exit 0
}
need_tool() {
  command -v "$1" >/dev/null 2>&1 || { fail "$1 is not installed (package $2; tools/run-tests installs it)"; finish; }
}

# A scratch directory under the build folder, removed at exit.
SCRATCH=$(mktemp -d "$CORVANE_TEST_BUILD_DIR/desktop-test.$TEST_NAME.XXXXXX") || exit 1
cleanup_scratch() { rm -rf "$SCRATCH"; }
trap cleanup_scratch EXIT

# The environment for runs of the demo tree: older JDKs need the reduced options;
# a trained tree's per-user class archives go to the scratch folder.
demo_env=(CORVANE_NATIVE_LOG_DIR_OVERRIDE="$SCRATCH/logs" XDG_CACHE_HOME="$SCRATCH/cache")
if [ "$CORVANE_TEST_JDK_MAJOR" -lt "$CORVANE_TEST_JDK_MINIMUM" ]; then
  demo_env+=(CORVANE_AGGRESSIVE_OPTIMIZATIONS=0)
fi

# The VM's messages in a native log, one per line (the hook's decoration pieces
# such as "[0.004s]" or "[cds]" come as lines of their own and are dropped).
vm_messages() {
  sed -n 's/.* jvm_vprintf JVM:  //p' "$1" | grep -v -E '^(\[[^]]*\])? *$'
}

# Runs the tree's launcher in probe mode with the JVM options in "$@"; the
# native log ends up in $SCRATCH/logs. Sets PROBE_STATUS.
probe_tree() {
  rm -rf "$SCRATCH/logs" && mkdir -p "$SCRATCH/logs"
  printf '%s\n' "$@" >"$SCRATCH/probe.args"
  env -u DISPLAY "${demo_env[@]}" CORVANE_DEMO_MODE=probe \
    timeout 60 "$CORVANE_TEST_DEMO_TREE/corvane" "--jvm-args=$SCRATCH/probe.args" >"$SCRATCH/probe.out" 2>&1 </dev/null
  # shellcheck disable=SC2034 # read by the tests that call probe_tree
  PROBE_STATUS=$?
}

# The demo tree's run whose log is $1 (default: the one in $SCRATCH/logs)
# started (the entry returned 0) and ended through the VM's exit hook with status 0.
# shellcheck disable=SC2120 # its arguments are optional
expect_exit_0_logged() {
  local log=${1:-$SCRATCH/logs/corvane-native.log}
  tail -n 3 "$log" | grep -q -F 'jvm_exit JVM: exit( 0 )' || fail "the native log's last lines lack the exit hook's line: $(tail -n 3 "$log" | tr '\n' '|')"
  grep -q -F 'JVM started successfully' "$log" || fail "the entry did not return 0 (no 'JVM started successfully' in the log)"
}

require_demo_tree() {
  [ -x "$CORVANE_TEST_DEMO_TREE/corvane" ] || { fail "no demo tree at $CORVANE_TEST_DEMO_TREE (the assemble test failed)"; finish; }
}
