#!/usr/bin/env bash
# Fixture: tools/package makes the demo tree into a Debian package that
# desktop-file-validate, appstreamcli and lintian accept, an rpm (rpm-install.sh
# checks it) and a tar.gz; bad input, or a package whose files are not the staged
# ones, gets a one-line message and leaves no file behind.
source "$(dirname "$0")/lib.sh"
need_tool dpkg-deb dpkg
need_tool dpkg-shlibdeps dpkg-dev
need_tool desktop-file-validate desktop-file-utils
need_tool appstreamcli appstream
need_tool lintian lintian
need_tool rpmbuild rpm
require_demo_tree
OUT=$CORVANE_TEST_PACKAGE_DIR
rm -rf "$OUT"
TOOL="$CORVANE_TEST_SOURCE_DIR/tools/package"
ARGS=(--no-flatpak --tree "$CORVANE_TEST_DEMO_TREE" --name "$CORVANE_TEST_PACKAGE_NAME" --version 1.0
  --display-name "Corvane demo" --summary "Shows what the corvane launcher set up"
  --icon "$CORVANE_TEST_SOURCE_DIR/demo/desktop/corvane-demo.svg" --categories "Development;"
  --maintainer "Corvane tests <tests@corvane.example.org>" --app-id "$CORVANE_TEST_PACKAGE_ID"
  --file-type "application/x-$CORVANE_TEST_PACKAGE_NAME;cdtest;Corvane demo test document"
  --url-scheme "$CORVANE_TEST_PACKAGE_NAME")

# name | word in the message | extra arguments (they come after ARGS and win) | environment
BAD=(
  "not a tree|not an install tree|--tree $SCRATCH"
  "tree of an older assemble-tree|assemble it again|--tree $SCRATCH/old-tree"
  "bad package name|no Debian package name|--name Demo_App"
  "bad version|no Debian version|--version v1"
  "maintainer without an address|not 'Name <email>'|--maintainer nobody"
  "icon not square|not square|--icon $SCRATCH/wide.png"
  "file type without extensions|--file-type needs|--file-type application/x-a;;A"
  "a Flatpak option with --no-flatpak|contradict each other|--flatpak-permission --device=dri"
  # A test seam has the formats leave out a staged file: reading the package back finds it missing.
  "package without a staged file|lacks /usr/share/man/man1/$CORVANE_TEST_PACKAGE_NAME.1.gz, which was staged|-q|CORVANE_TEST_LEAVE_OUT=usr/share/man/man1/$CORVANE_TEST_PACKAGE_NAME.1.gz"
)
# A 2x1 PNG header is all the check reads.
printf '\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x02\0\0\0\x01' >"$SCRATCH/wide.png"
# An install tree without the record that assemble-tree writes now.
mkdir -p "$SCRATCH/old-tree/lib"
ln -s "$CORVANE_TEST_DEMO_TREE/corvane" "$SCRATCH/old-tree/corvane"
ln -s "$CORVANE_TEST_DEMO_TREE/jre" "$SCRATCH/old-tree/jre"
cp "$CORVANE_TEST_DEMO_TREE/lib/manifest-bootstrap.txt" "$SCRATCH/old-tree/lib/"
mkdir -p "$SCRATCH/bad-out"
for row in "${BAD[@]}"; do
  IFS='|' read -r name word extra environment <<<"$row"
  read -r -a extra_args <<<"$extra"
  read -r -a environment <<<"$environment"
  timeout 600 env "${environment[@]}" "$TOOL" "${ARGS[@]}" "${extra_args[@]}" --out-dir "$SCRATCH/bad-out" >/dev/null 2>"$SCRATCH/err"
  status=$?
  { [ "$status" = 1 ] && [ "$(wc -l <"$SCRATCH/err")" = 1 ] && grep -q -F -- "$word" "$SCRATCH/err"; } \
    || fail "$name: status $status, message: $(tr '\n' '|' <"$SCRATCH/err")"
  [ -z "$(ls -A "$SCRATCH/bad-out")" ] || fail "$name: files left in the output folder: $(ls -A "$SCRATCH/bad-out")"
done

timeout 600 "$TOOL" -q "${ARGS[@]}" --out-dir "$OUT" >"$SCRATCH/made" 2>"$SCRATCH/err"
status=$?
[ "$status" = 0 ] || { fail "tools/package ended with status $status: $(cat "$SCRATCH/err")"; finish; }
DEB="$OUT/${CORVANE_TEST_PACKAGE_NAME}_1.0_amd64.deb"
RPM="$OUT/$CORVANE_TEST_PACKAGE_NAME-1.0-1.x86_64.rpm"
TAR="$OUT/$CORVANE_TEST_PACKAGE_NAME-1.0-linux-x86_64.tar.gz"
[ "$(cat "$SCRATCH/made")" = "$(printf '%s\n%s\n%s' "$DEB" "$RPM" "$TAR")" ] || fail "tools/package named $(tr '\n' ' ' <"$SCRATCH/made")"
[ "$(find "$OUT" -mindepth 1 -maxdepth 1 -printf '%f\n' | LC_ALL=C sort)" = "$(printf '%s\n' "${DEB##*/}" "${RPM##*/}" "${TAR##*/}" | LC_ALL=C sort)" ] \
  || fail "the output folder holds: $(find "$OUT" -mindepth 1 -maxdepth 1 -printf '%f ')"

X="$SCRATCH/deb"
dpkg-deb -x "$DEB" "$X" || { fail "dpkg-deb cannot unpack $DEB"; finish; }
N=$CORVANE_TEST_PACKAGE_NAME
[ "$(readlink "$X/usr/bin/$N")" = "/opt/$N/current/corvane" ] || fail "/usr/bin/$N is not a link to /opt/$N/current/corvane"
cmp -s "$X/opt/$N/lib/manifest-bootstrap.txt" "$CORVANE_TEST_DEMO_TREE/lib/manifest-bootstrap.txt" || fail "the tree under /opt/$N differs"
[ -f "$X/usr/share/icons/hicolor/scalable/apps/$N.svg" ] || fail "no icon in the hicolor theme"
DESKTOP="$X/usr/share/applications/$CORVANE_TEST_PACKAGE_ID.desktop"
grep -q -x "StartupWMClass=com-vellumbry-corvane-entry-CorvaneProcessEarlyEntry" "$DESKTOP" \
  || fail "the desktop entry's StartupWMClass is not the demo's window class: $(grep StartupWMClass "$DESKTOP")"
desktop-file-validate "$DESKTOP" >"$SCRATCH/dfv" 2>&1 || fail "desktop-file-validate: $(tr '\n' '|' <"$SCRATCH/dfv")"
appstreamcli validate --no-net "$X/usr/share/metainfo/$CORVANE_TEST_PACKAGE_ID.metainfo.xml" >"$SCRATCH/asv" 2>&1 \
  || fail "appstreamcli validate: $(tr '\n' '|' <"$SCRATCH/asv")"
depends=$(dpkg-deb -f "$DEB" Depends)
[[ $depends == *"libc6 (>= 2."* && $depends == *libfontconfig1* ]] || fail "Depends lacks glibc's version or fontconfig: $depends"
lintian --fail-on error "$DEB" >"$SCRATCH/lintian" 2>&1 || fail "lintian: $(grep -E '^E:' "$SCRATCH/lintian" | head -n 5 | tr '\n' '|')"
note "lintian: $(grep -c -E '^W:' "$SCRATCH/lintian") warning(s): $(grep -E '^W:' "$SCRATCH/lintian" | awk '{print $3}' | sort -u | tr '\n' ' ')"

tar -tzvf "$TAR" >"$SCRATCH/tar-list" || fail "cannot list $TAR"
top=$(awk '{ print $6 }' "$SCRATCH/tar-list" | cut -d/ -f1 | sort -u)
[ "$top" = "$N-1.0" ] || fail "the tar.gz's top folder is '$top', wanted $N-1.0"
grep -q -E "^l.* $N-1.0/$N -> corvane\$" "$SCRATCH/tar-list" || fail "the tar.gz lacks the command link $N-1.0/$N"
finish
