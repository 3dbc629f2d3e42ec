#!/usr/bin/env bash
# The splash screen under Xvfb: an application whose jar's manifest names a
# SplashScreen-Image (with a @2x variant) is assembled with tools/assemble-tree;
# its launcher maps the splash window ("Java", as java's) before the VM runs the
# application, java.awt.SplashScreen finds it, and AWT closes it at the first
# window. A broken image or a FIFO gives no splash, one log line and a normal start, and
# a FIFO at the user's jvm options file never holds the start up; a record whose
# splash= leads out of the tree shows no image from there, and a tree without
# splash= never loads the splash library.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/xvfb.sh"
need_tool xdotool xdotool
JDK=$CORVANE_TEST_JDK_HOME
TREE="$SCRATCH/tree"
SPLASH_WINDOW='^Java$'
APP_WINDOW='^Splash test$'

mkdir -p "$SCRATCH/classes" "$SCRATCH/jar/images"
"$JDK/bin/javac" --release 17 -d "$SCRATCH/classes" "$CORVANE_TEST_SOURCE_DIR/tests/desktop/splash-app/splashapp/Main.java" \
  || { fail "cannot compile the test application"; finish; }
{ "$JDK/bin/java" -Djava.awt.headless=true -cp "$SCRATCH/classes" splashapp.Main image "$SCRATCH/jar/images/splash.png" 160 90 \
  && "$JDK/bin/java" -Djava.awt.headless=true -cp "$SCRATCH/classes" splashapp.Main image "$SCRATCH/jar/images/splash@2x.png" 320 180 \
  && printf 'SplashScreen-Image: images/splash.png\n' >"$SCRATCH/manifest.txt" \
  && "$JDK/bin/jar" --create --file "$SCRATCH/app.jar" --manifest "$SCRATCH/manifest.txt" --main-class splashapp.Main \
       -C "$SCRATCH/classes" splashapp -C "$SCRATCH/jar" images; } || { fail "cannot make the test jar"; finish; }
env "${demo_env[@]}" timeout 300 "$CORVANE_TEST_SOURCE_DIR/tools/assemble-tree" --quiet --no-cds \
  --launcher "$CORVANE_TEST_LAUNCHER" --jdk "$JDK" --dest "$TREE" "$SCRATCH/app.jar" 2>"$SCRATCH/assemble.err" \
  || { fail "tools/assemble-tree failed: $(cat "$SCRATCH/assemble.err")"; finish; }
grep -q -x 'splash=lib/splash/splash.png' "$TREE/lib/corvane-tree.txt" || fail "the record names no splash: $(cat "$TREE/lib/corvane-tree.txt")"
[ -f "$TREE/lib/splash/splash@2x.png" ] || fail "the scaled variant splash@2x.png is not in lib/splash/"

# A manifest that names an image its jar does not hold: a note, and a tree without a splash.
printf 'SplashScreen-Image: images/gone.png\n' >"$SCRATCH/gone.txt"
"$JDK/bin/jar" --create --file "$SCRATCH/gone.jar" --manifest "$SCRATCH/gone.txt" --main-class splashapp.Main \
  -C "$SCRATCH/classes" splashapp || fail "cannot make the jar without its splash image"
env "${demo_env[@]}" timeout 300 "$CORVANE_TEST_SOURCE_DIR/tools/assemble-tree" --quiet --no-cds \
  --launcher "$CORVANE_TEST_LAUNCHER" --jdk "$JDK" --dest "$SCRATCH/gone-tree" "$SCRATCH/gone.jar" 2>"$SCRATCH/gone.err" \
  || fail "tools/assemble-tree failed on a jar without its splash image: $(cat "$SCRATCH/gone.err")"
grep -q 'NOTE: .*images/gone.png, which the jar does not hold: no splash screen' "$SCRATCH/gone.err" \
  || fail "no note of the missing splash image: $(cat "$SCRATCH/gone.err")"
if grep -q '^splash=' "$SCRATCH/gone-tree/lib/corvane-tree.txt" || [ -e "$SCRATCH/gone-tree/lib/splash" ]; then
  fail "a tree whose jar lacks the manifest's splash image has one"
fi
rm -rf "$SCRATCH/gone-tree"

# A good image beside the tree, for the records that lead out of it.
cp "$TREE/lib/splash/splash.png" "$SCRATCH/outside.png" || fail "cannot copy the splash image"

trap window_test_cleanup EXIT
start_xvfb

# Changes the tree for the rows that follow.
prepare() {
  case $1 in
    broken) printf '\x89PNG but nothing more\n' >"$TREE/lib/splash/splash.png" ;;
    fifo) rm -f "$TREE/lib/splash/splash.png" && mkfifo "$TREE/lib/splash/splash.png" ;;
    options-fifo) mkdir -p "$SCRATCH/config/tree" && mkfifo "$SCRATCH/config/tree/jvm-options.txt" ;;
    no-key) sed -i '/^splash=/d' "$TREE/lib/corvane-tree.txt" ;;
    splash=*) sed -i '/^splash=/d' "$TREE/lib/corvane-tree.txt" && printf '%s\n' "$1" >>"$TREE/lib/corvane-tree.txt" ;;
  esac
}

# Waits up to 60 s for a line matching $1 in the application's output.
wait_output() {
  local _
  for _ in $(seq 600); do grep -q -E "$1" "$SCRATCH/out" && return 0; kill -0 "$APP_PID" 2>/dev/null || break; sleep 0.1; done
  grep -q -E "$1" "$SCRATCH/out"
}

# name | change to the tree | environment | splash window size (- for none) | library loaded | SplashScreen | log line
ROWS=(
  "splash from the manifest||-|160x90|yes|file:$TREE/lib/splash/splash.png|Splash screen shown: $TREE/lib/splash/splash.png\$"
  "scaled image under GDK_SCALE=2||GDK_SCALE=2|320x180|yes|file:$TREE/lib/splash/splash.png|Splash screen shown: $TREE/lib/splash/splash@2x.png \(scale 2\)"
  "a FIFO at the user's jvm options file|options-fifo|XDG_CONFIG_HOME=$SCRATCH/config|160x90|yes|file:$TREE/lib/splash/splash.png|Splash screen shown: $TREE/lib/splash/splash.png\$"
  "broken image|broken|-|-|yes|none|No splash screen: $TREE/lib/splash/splash.png is not an image"
  "a FIFO in the image's place|fifo|-|-|no|none|No splash screen: $TREE/lib/splash/splash.png is not a regular file"
  "a path up out of the tree|splash=../outside.png|-|-|no|none|No splash screen: \.\./outside\.png is not a path below the tree\$"
  "an absolute path|splash=$SCRATCH/outside.png|-|-|no|none|No splash screen: $SCRATCH/outside\.png is not a path below the tree\$"
  "a path that climbs out of lib|splash=lib/../../outside.png|-|-|no|none|No splash screen: lib/\.\./\.\./outside\.png is not a path below the tree\$"
  "no splash in the record|no-key|-|-|no|none|"
)
for row in "${ROWS[@]}"; do
  IFS='|' read -r name change extra size library answer logline <<<"$row"
  prepare "$change"
  run_env=("${demo_env[@]}" SPLASH_TEST_GO="$SCRATCH/go")
  [ "$extra" = - ] || run_env+=("$extra")
  rm -rf "$SCRATCH/logs" "$SCRATCH/go" && mkdir -p "$SCRATCH/logs"
  env "${run_env[@]}" "$TREE/corvane" >"$SCRATCH/out" 2>&1 </dev/null &
  APP_PID=$!
  # The application reports, then waits: any splash is up by now, and its window is not.
  wait_output '^splash=' || fail "$name: no report within 60 s: $(tail -n 3 "$SCRATCH/out" | tr '\n' '|')"
  sid=$(timeout 10 xdotool search --sync --onlyvisible --name "$SPLASH_WINDOW" 2>/dev/null | head -n1)
  if [ "$size" = - ]; then
    [ -z "$sid" ] || fail "$name: a splash window is mapped"
  elif [ -z "$sid" ]; then
    fail "$name: no splash window mapped"
  else
    eval "$(xdotool getwindowgeometry --shell "$sid")"
    [ "${WIDTH}x${HEIGHT}" = "$size" ] || fail "$name: the splash window is ${WIDTH}x${HEIGHT}, wanted $size"
  fi
  grep -q -x "library=$library" "$SCRATCH/out" || fail "$name: wanted library=$library: $(grep '^library=' "$SCRATCH/out")"
  grep -q -x "splash=$answer" "$SCRATCH/out" || fail "$name: SplashScreen answered '$(sed -n 's/^splash=//p' "$SCRATCH/out")', wanted '$answer'"

  touch "$SCRATCH/go"
  if [ -z "$(wait_window "$APP_WINDOW" 60)" ] || ! wait_output '^window shown$'; then
    fail "$name: the application's window did not open; its output: $(tail -n 3 "$SCRATCH/out" | tr '\n' '|')" \
      "the log's end: $(tail -n 4 "$SCRATCH/logs/corvane-native.log" | tr '\n' '|')"
  fi
  gone=no
  for _ in $(seq 100); do
    [ -z "$(xdotool search --onlyvisible --name "$SPLASH_WINDOW" 2>/dev/null)" ] && { gone=yes; break; }
    sleep 0.1
  done
  [ "$gone" = yes ] || fail "$name: the splash window is still mapped 10 s after the application's window opened"

  log=$(grep -F ' showSplash ' "$SCRATCH/logs/corvane-native.log")
  if [ -z "$logline" ]; then
    [ -z "$log" ] || fail "$name: the log speaks of a splash: $log"
  else
    if [ "$(wc -l <<<"$log")" != 1 ] || ! grep -q -E "$logline" <<<"$log"; then
      fail "$name: wanted one log line matching '$logline', got: $log"
    fi
  fi
  kill -KILL "$APP_PID"; wait "$APP_PID" 2>/dev/null; APP_PID=""
  note "$name: ${sid:+splash window $sid, }${log:-no splash log line}"
done
finish
