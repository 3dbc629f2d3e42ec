#!/usr/bin/env bash
# The tools as a packager gets them: tools/release makes corvane-tools, its .deb
# installs, and from a folder outside the checkout corvane-ship assembles (with
# the release's own launcher) and packages a small application whose tree runs;
# a tree of another contract is refused; the completion offers the options.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/xvfb.sh"
require_apt
N=corvane-tools
# A packager's own folder, far from the checkout.
APP=$(mktemp -d "${TMPDIR:-/tmp}/corvane-packager.XXXXXX") || exit 1
trap 'package_test_cleanup; rm -rf "$APP"' EXIT

CORVANE_RELEASE_BUILD_DIR="$SCRATCH/build" "$CORVANE_TEST_SOURCE_DIR/tools/release" --out-dir "$SCRATCH/release" -q \
  >"$SCRATCH/release.out" 2>&1 || { fail "tools/release failed: $(tail -n 3 "$SCRATCH/release.out" | tr '\n' '|')"; finish; }
V=$CORVANE_TEST_VERSION
for file in "${N}_${V}_amd64.deb" "$N-$V-1.x86_64.rpm" "$N-$V-linux-x86_64.tar.gz"; do
  [ -f "$SCRATCH/release/$file" ] || fail "tools/release made no $file: $(tr '\n' '|' <"$SCRATCH/release.out")"
done
# A release installed earlier (of the same version) would stay in place of this one.
dpkg-query -W "$N" >/dev/null 2>&1 && apt_get purge "$N" >/dev/null 2>&1
apt_get install "$SCRATCH/release/${N}_${V}_amd64.deb" >"$SCRATCH/install.log" 2>&1 \
  || { fail "apt-get install corvane-tools failed: $(tail -n 3 "$SCRATCH/install.log" | tr '\n' '|')"; finish; }

readelf -h "/opt/$N/corvane-aarch64" 2>/dev/null | grep -q 'Machine: *AArch64' \
  || fail "the release holds no arm64 launcher /opt/$N/corvane-aarch64"
PLUGIN="/opt/$N/maven-repo/com/vellumbry/corvane/corvane-maven-plugin/$V"
{ [ -f "$PLUGIN/corvane-maven-plugin-$V.jar" ] && [ -f "$PLUGIN/corvane-maven-plugin-$V.pom" ]; } \
  || fail "the release holds no Maven plugin in $PLUGIN"
version=$(corvane-ship --version 2>&1)
contract=$(sed -n 's/^contract\.version=//p' "$CORVANE_TEST_SOURCE_DIR/api/contract.txt")
[ "$version" = "corvane-ship $V
launcher: Corvane $V (/opt/$N/corvane)
contract: $contract" ] || fail "corvane-ship --version says: $(tr '\n' '|' <<<"$version")"

# A small application, its JDK named as packagers name it.
mkdir -p "$APP/src/org/example"
cat >"$APP/src/org/example/Hello.java" <<'JAVA'
package org.example;

public class Hello {
    public static void main(String[] args) {
        System.out.println("hello from " + String.join(" ", args));
    }
}
JAVA
if ! "$CORVANE_TEST_JDK_HOME/bin/javac" -d "$APP/classes" "$APP/src/org/example/Hello.java" \
  || ! "$CORVANE_TEST_JDK_HOME/bin/jar" --create --file "$APP/hello.jar" --main-class org.example.Hello -C "$APP/classes" .; then
  fail "cannot build the sample jar"; finish
fi
cd "$APP" || exit 1
ship() { env JAVA_HOME="$CORVANE_TEST_JDK_HOME" corvane-ship "$@"; }
ship assemble --dest hello --train -q hello.jar >assemble.out 2>&1 \
  || { fail "corvane-ship assemble failed: $(tail -n 3 assemble.out | tr '\n' '|')"; finish; }
cmp -s hello/corvane "/opt/$N/corvane" || fail "the tree's launcher is not the release's"
out=$(env "${demo_env[@]}" timeout 60 hello/corvane one two 2>&1)
[ "$out" = "hello from one two" ] || fail "the assembled tree printed: $out"
ship package --no-flatpak --tree hello --out-dir packages --maintainer "Jane Doe <jane@example.org>" --app-id org.example.hello >package.out 2>&1 \
  || fail "corvane-ship package failed: $(tail -n 3 package.out | tr '\n' '|')"
[ -f "packages/hello_${V}_amd64.deb" ] || fail "corvane-ship package made no .deb: $(tr '\n' '|' <package.out)"
# The installed tools, below /opt themselves, still make the archive for the package's install path.
dpkg-deb -c "packages/hello_${V}_amd64.deb" >contents.txt 2>&1
grep -q '/opt/hello/lib/app-archive.jsa$' contents.txt \
  || fail "the package carries no archive made at packaging: $(grep -i 'archive' package.out | tr '\n' '|')"

# A tree assembled under another contract is refused, in one line naming both.
sed -i "s/^contract=.*/contract=0/" hello/lib/corvane-tree.txt
ship package --tree hello --out-dir refused >refused.out 2>&1 && fail "a tree of contract 0 was packaged"
grep -q -x "corvane-ship package: .*assembled by tools of contract 0 .*speak contract $contract: assemble the tree again with them" \
  refused.out || fail "the refusal says: $(tr '\n' '|' <refused.out)"
[ ! -e refused ] || fail "the refused run left its output folder"

# Completion: subcommands, then the subcommand's own options; the file made from the help texts is sound bash.
shellcheck -s bash /usr/share/bash-completion/completions/corvane-ship >completion.check 2>&1 \
  || fail "shellcheck finds in the completion: $(head -n 5 completion.check | tr '\n' '|')"
complete_words() {
  bash -c 'source /usr/share/bash-completion/completions/corvane-ship; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1));
           _corvane_ship; printf "%s\n" "${COMPREPLY[@]}"' _ "$@"
}
[ "$(complete_words corvane-ship pa)" = "package" ] || fail "completing 'pa' gives: $(complete_words corvane-ship pa)"
[ "$(complete_words corvane-ship assemble --tra)" = "--train
--train-arg
--train-seconds" ] || fail "completing assemble --tra gives: $(complete_words corvane-ship assemble --tra | tr '\n' ' ')"
finish
