#!/usr/bin/env bash
# A tree never opens a jar from outside itself: an application jar whose
# Class-Path names one library by absolute path and one by a relative path out of
# its folder, and a signed jar whose Class-Path names a library by absolute path,
# all left in place, assembled with tools/assemble-tree. The running launcher's
# process (its /proc maps and open files) holds nothing outside the tree and the
# system's folders; its classes come from the tree's copies, the signed jar's
# with their signers; the copies keep the originals' entries.
source "$(dirname "$0")/lib.sh"
JDK=$CORVANE_TEST_JDK_HOME
TREE="$SCRATCH/tree"
APP_PID=""
# shellcheck disable=SC2317 # run by the EXIT trap
cleanup() {
  [ -n "$APP_PID" ] && kill -KILL "$APP_PID" 2>/dev/null
  cleanup_scratch
}
trap cleanup EXIT

# app/main.jar -> /abs/shared/abs.jar, ../shared/rel.jar (-> gone.jar, missing), ../signed/sig.jar;
# signed/sig.jar (signed) -> /abs/shared/dep.jar.
mkdir -p "$SCRATCH/classes" "$SCRATCH/app" "$SCRATCH/shared" "$SCRATCH/signed" "$SCRATCH/io"
mapfile -t sources < <(find "$CORVANE_TEST_SOURCE_DIR/tests/desktop/self-contained-app" -name '*.java')
"$JDK/bin/javac" --release 17 -d "$SCRATCH/classes" "${sources[@]}" || { fail "cannot compile the test application"; finish; }
printf 'Class-Path: %s ../shared/rel.jar ../signed/sig.jar\nX-Test: kept\n' "$SCRATCH/shared/abs.jar" >"$SCRATCH/main.mf"
printf 'Class-Path: gone.jar\n' >"$SCRATCH/rel.mf"
printf 'Class-Path: %s\n' "$SCRATCH/shared/dep.jar" >"$SCRATCH/sig.mf"
{ "$JDK/bin/jar" --create --file "$SCRATCH/app/main.jar" --manifest "$SCRATCH/main.mf" -C "$SCRATCH/classes" scapp/Main.class \
  && "$JDK/bin/jar" --create --file "$SCRATCH/shared/abs.jar" -C "$SCRATCH/classes" scapp/abs \
  && "$JDK/bin/jar" --create --no-compress --file "$SCRATCH/shared/rel.jar" --manifest "$SCRATCH/rel.mf" -C "$SCRATCH/classes" scapp/rel \
  && "$JDK/bin/jar" --create --file "$SCRATCH/shared/dep.jar" -C "$SCRATCH/classes" scapp/dep \
  && "$JDK/bin/jar" --create --file "$SCRATCH/signed/sig.jar" --manifest "$SCRATCH/sig.mf" -C "$SCRATCH/classes" scapp/signed \
  && "$JDK/bin/keytool" -genkeypair -keystore "$SCRATCH/keys.p12" -storepass throwaway -alias test -keyalg EC \
       -dname CN=corvane-test -validity 2 >/dev/null 2>&1 \
  && "$JDK/bin/jarsigner" -keystore "$SCRATCH/keys.p12" -storepass throwaway "$SCRATCH/signed/sig.jar" test >/dev/null; } \
  || { fail "cannot make the test jars"; finish; }

env "${demo_env[@]}" timeout 300 "$CORVANE_TEST_SOURCE_DIR/tools/assemble-tree" --no-cds --main-class scapp.Main \
  --launcher "$CORVANE_TEST_LAUNCHER" --jdk "$JDK" --dest "$TREE" "$SCRATCH/app/main.jar" 2>"$SCRATCH/assemble.err" \
  || { fail "tools/assemble-tree failed: $(cat "$SCRATCH/assemble.err")"; finish; }
TREE=$(realpath "$TREE")
manifest=$(paste -sd' ' "$TREE/lib/manifest-bootstrap.txt")
[ "$manifest" = "corvane-bridge.jar main.jar abs.jar rel.jar dep.jar sig.jar" ] \
  || fail "manifest-bootstrap.txt is '$manifest', wanted java's order with the signed jar after the jar it names"
grep -q 'NOTE: sig.jar is signed .* names .*/shared/dep.jar outside lib/' "$SCRATCH/assemble.err" \
  || fail "no note that sig.jar keeps a Class-Path out of lib/: $(cat "$SCRATCH/assemble.err")"

# name | original | the copy: rewritten (no Class-Path, the other attributes kept) or the same bytes
COPIES=(
  "main.jar|$SCRATCH/app/main.jar|rewritten"
  "abs.jar|$SCRATCH/shared/abs.jar|same"
  "rel.jar|$SCRATCH/shared/rel.jar|rewritten"
  "dep.jar|$SCRATCH/shared/dep.jar|same"
  "sig.jar|$SCRATCH/signed/sig.jar|same"
)
# Each entry in order with its size, method, date and time; the manifest's size changes.
entries() { zipinfo "$1" | awk 'NF >= 9 && $1 ~ /^[-d]/ { print $4, $6, $7, $8, $NF }' | sed '/ META-INF\/MANIFEST.MF$/s/^[0-9]* //'; }
for row in "${COPIES[@]}"; do
  IFS='|' read -r name original how <<<"$row"
  copy="$TREE/lib/$name"
  [ "$(unzip -Z1 "$copy")" = "$(unzip -Z1 "$original")" ] || fail "$name: the copy's entries differ from the original's"
  [ "$(entries "$copy")" = "$(entries "$original")" ] \
    || fail "$name: sizes, methods or times differ: $(diff <(entries "$original") <(entries "$copy") | tr '\n' '|')"
  if [ "$how" = same ]; then
    cmp -s "$copy" "$original" || fail "$name: the copy is not the original byte for byte"
    continue
  fi
  mf=$(unzip -p "$copy" META-INF/MANIFEST.MF)
  ! grep -q -i '^class-path:' <<<"$mf" || fail "$name: the copy's manifest keeps a Class-Path: $mf"
  [ "$(unzip -p "$original" META-INF/MANIFEST.MF | grep -c -v -i -E '^(class-path:| )')" = "$(grep -c . <<<"$mf")" ] \
    || fail "$name: the copy's manifest lost other lines: $mf"
done
unzip -p "$TREE/lib/main.jar" META-INF/MANIFEST.MF | tr -d '\r' | grep -q -x 'X-Test: kept' || fail "main.jar: X-Test is gone"

# The files a process has mapped or open.
files_of() {
  { sed -E 's/^([^ ]+ +){5}//' "/proc/$1/maps"; find "/proc/$1/fd" -mindepth 1 -exec readlink {} \; ; } \
    | grep '^/' | sed 's/ (deleted)$//' | sort -u
}
# What the application inherits from this script (and this from ctest).
inherited=$(files_of $$)

# The application loads a class of each library (the signed jar's last), then waits on its input.
mkfifo "$SCRATCH/io/in"
env "${demo_env[@]}" "$TREE/corvane" scapp.abs.Abs scapp.rel.Rel scapp.dep.Dep scapp.signed.Signed \
  <"$SCRATCH/io/in" >"$SCRATCH/io/out" 2>"$SCRATCH/io/err" &
APP_PID=$!
exec {to_app}>"$SCRATCH/io/in"
for _ in $(seq 600); do
  grep -q -x ready "$SCRATCH/io/out" 2>/dev/null || ! kill -0 "$APP_PID" 2>/dev/null && break
  sleep 0.1
done
grep -q -x ready "$SCRATCH/io/out" || { fail "the application did not get ready: $(tail -n 3 "$SCRATCH/io/err" | tr '\n' '|')"; finish; }
want="scapp.abs.Abs $TREE/lib/abs.jar unsigned;scapp.rel.Rel $TREE/lib/rel.jar unsigned;scapp.dep.Dep $TREE/lib/dep.jar unsigned;scapp.signed.Signed $TREE/lib/sig.jar signed;ready"
[ "$(paste -sd';' "$SCRATCH/io/out")" = "$want" ] \
  || fail "classes came from elsewhere or without signers: $(paste -sd';' "$SCRATCH/io/out"); wanted $want"

# Every file the process has mapped or open, against the folders it may use and
# what it inherited. The signed jar keeps its Class-Path: the VM opens the
# dep.jar it names on lookups through the whole class path (verifying the
# signature loads time-zone providers so), but the tree's copy serves its classes.
opened=$(files_of "$APP_PID")
grep -q -x -F "$TREE/lib/sig.jar" <<<"$opened" || fail "the process has not even the tree's signed jar open: the check sees nothing"
allowed=("$TREE/" /lib/ /lib64/ /usr/lib/ /usr/lib64/ /etc/ /dev/ /proc/ /sys/ /tmp/ "${TMPDIR:-/tmp}/" "$SCRATCH/logs/"
  "$SCRATCH/io/" "$SCRATCH/shared/dep.jar")
outside=$(while IFS= read -r path; do
  inside=no
  for prefix in "${allowed[@]}"; do [[ $path == "$prefix"* ]] && inside=yes; done
  [ "$inside" = yes ] || echo "$path"
done <<<"$opened" | grep -v -x -F -f <(echo "$inherited"))
[ -z "$outside" ] || fail "the process has files open or mapped outside the tree: $(tr '\n' ' ' <<<"$outside")"

echo stop >&"$to_app"
exec {to_app}>&-
wait "$APP_PID"
status=$?
APP_PID=""
[ "$status" = 0 ] || fail "the application ended with status $status, wanted 0"
finish
