#!/usr/bin/env bash
# The built launcher depends on glibc's own libraries only, and
# `cmake --install` puts it at the root of the prefix.
source "$(dirname "$0")/lib.sh"
need_tool readelf binutils

# NEEDED entries of an ELF file, one per line.
needed() { readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'; }

check_needed() {
  local file=$1 libs lib
  libs=$(needed "$file")
  [ -n "$libs" ] || { fail "$file: readelf shows no NEEDED entries (not a dynamic executable?)"; return; }
  grep -q -x 'libc.so.6' <<<"$libs" || fail "$file: libc.so.6 is not among NEEDED: ${libs//$'\n'/ }"
  while read -r lib; do
    case $lib in
      libc.so.6|ld-linux-x86-64.so.2|libm.so.6|libdl.so.2|libpthread.so.0|librt.so.1) ;;
      *) fail "$file needs $lib; only glibc's own libraries are allowed" ;;
    esac
  done <<<"$libs"
  note "$file NEEDED: ${libs//$'\n'/ }"
}

check_needed "$CORVANE_TEST_LAUNCHER"

PREFIX="$SCRATCH/prefix"
if ! cmake --install "$CORVANE_TEST_BUILD_DIR" --prefix "$PREFIX" >"$SCRATCH/install.log" 2>&1; then
  fail "cmake --install failed: $(tail -n 3 "$SCRATCH/install.log")"
  finish
fi
if [ ! -f "$PREFIX/corvane" ] || [ ! -x "$PREFIX/corvane" ]; then
  fail "cmake --install left no executable corvane at the root of the prefix: $(cd "$PREFIX" && find . | head -20 | tr '\n' ' ')"
  finish
fi
cmp -s "$CORVANE_TEST_LAUNCHER" "$PREFIX/corvane" || fail "the installed corvane differs from the built one"
check_needed "$PREFIX/corvane"
# Nothing but the launcher lands in the prefix root (no stray files, no bin/).
extra=$(cd "$PREFIX" && find . -mindepth 1 -maxdepth 1 ! -name corvane | tr '\n' ' ')
[ -z "$extra" ] || fail "cmake --install put more than corvane into the prefix root: $extra"

out=$(cd / && timeout 30 "$PREFIX/corvane" --version 2>&1)
status=$?
[ "$status" = 0 ] || fail "installed corvane --version ended with status $status"
[ "$out" = "Corvane $CORVANE_TEST_VERSION" ] || fail "installed corvane --version printed '$out', wanted 'Corvane $CORVANE_TEST_VERSION'"
finish
