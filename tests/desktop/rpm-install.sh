#!/usr/bin/env bash
# The demo package as an rpm: rpmlint finds no error, and it holds the .deb's
# files but the Debian-only ones. Installed on this machine with rpm (a scratch
# database; --nodeps, as that database knows no system package) its command
# runs from version 1.0's copy; an upgrade to 1:1.1-2, which names a package
# repository, keeps the copy a process still maps, installs the repository's
# entry and key, and the watcher removes the old copy once that process has
# ended; erasing leaves nothing of the package behind. tools/publish puts both
# into a signed rpm repository, and refuses an rpm whose header names a path.
source "$(dirname "$0")/lib.sh"
[ "$(id -u)" = 0 ] || skip "installing a package needs root (tests run as root in CI)"
need_tool rpm rpm
need_tool rpmbuild rpm
need_tool rpmlint rpmlint
need_tool gpg gnupg
require_demo_tree
N=$CORVANE_TEST_PACKAGE_NAME
BASE=/opt/$N
RPM1="$CORVANE_TEST_PACKAGE_DIR/$N-1.0-1.x86_64.rpm"
DEB1="$CORVANE_TEST_PACKAGE_DIR/${N}_1.0_amd64.deb"
{ [ -f "$RPM1" ] && [ -f "$DEB1" ]; } || { fail "no $RPM1 or $DEB1 (the package test failed)"; finish; }
[ ! -e "$BASE" ] || { fail "$BASE is there before the test: another package test left it"; finish; }
export GNUPGHOME="$SCRATCH/gnupg"
mkdir -m 700 "$GNUPGHOME"
DB="$SCRATCH/rpmdb"
HOLDER=""
rpm_db() { rpm --dbpath "$DB" "$@"; }

# shellcheck disable=SC2317 # run by the EXIT trap
cleanup() {
  [ -n "$HOLDER" ] && kill "$HOLDER" 2>/dev/null
  if rpm_db -q "$N" >/dev/null 2>&1; then
    rpm_db -e --nodeps "$N" >/dev/null 2>&1 || rpm_db -e --nodeps --noscripts "$N" >/dev/null 2>&1
  fi
  remove_made_dirs
  gpgconf --kill all 2>/dev/null
  cleanup_scratch
}
trap cleanup EXIT

# be32 <n>: n as four bytes, most significant first.
be32() { printf '%b' "$(printf '\\x%02x' $(($1 >> 24 & 255)) $(($1 >> 16 & 255)) $(($1 >> 8 & 255)) $(($1 & 255)))"; }
# crafted_rpm <file> <name>: an rpm's lead and headers, without a payload, whose
# main header names the package <name>, version 1, release 1, for x86_64.
crafted_rpm() {
  local n=${#2} tag offset
  {
    printf '\xed\xab\xee\xdb' && head -c 92 /dev/zero
    printf '\x8e\xad\xe8\x01' && head -c 12 /dev/zero
    printf '\x8e\xad\xe8\x01' && head -c 4 /dev/zero && be32 4 && be32 $((n + 12))
    for tag in 1000:0 1001:$((n + 1)) 1002:$((n + 3)) 1022:$((n + 5)); do
      offset=${tag#*:}
      be32 "${tag%:*}" && be32 6 && be32 "$offset" && be32 1
    done
    printf '%s\0' "$2" 1 1 x86_64
  } >"$1"
}

# The folders the packages' files need that are not there yet: rpm makes them
# and leaves them behind, so the test removes them again (when empty).
: >"$SCRATCH/made-dirs"
note_missing_dirs() {
  local dir
  while IFS= read -r dir; do
    while [ "$dir" != / ] && [ ! -e "$dir" ]; do echo "$dir"; dir=$(dirname "$dir"); done
  done < <(rpm -qpl "$@" | xargs -r -d '\n' dirname | sort -u) >>"$SCRATCH/made-dirs"
}
# shellcheck disable=SC2317 # run by cleanup
remove_made_dirs() {
  sort -u "$SCRATCH/made-dirs" | awk '{ print length, $0 }' | sort -rn | cut -d' ' -f2- \
    | while IFS= read -r dir; do rmdir "$dir" 2>/dev/null; done
}

# A throwaway signing key, exported binary as a publisher hands it out.
gpg --batch --quiet --passphrase '' --quick-gen-key "Corvane tests <tests@corvane.example.org>" ed25519 sign never \
  2>"$SCRATCH/gpg.err" || { fail "cannot make a test key: $(cat "$SCRATCH/gpg.err")"; finish; }
gpg --batch --export >"$SCRATCH/key.gpg"
FINGERPRINT=$(gpg --batch --with-colons --list-keys 2>/dev/null | awk -F: '$1 == "fpr" { print $10; exit }')

# Version 1:1.1-2 of the same package, with a repository.
timeout 600 "$CORVANE_TEST_SOURCE_DIR/tools/package" -q --no-flatpak --tree "$CORVANE_TEST_DEMO_TREE" --name "$N" \
  --version 1:1.1-2 --display-name "Corvane demo" --app-id "$CORVANE_TEST_PACKAGE_ID" \
  --maintainer "Corvane tests <tests@corvane.example.org>" --repository-url "https://packages.example.org/$N" \
  --repository-key "$SCRATCH/key.gpg" --out-dir "$SCRATCH/next" >"$SCRATCH/made" 2>"$SCRATCH/package.err" \
  || { fail "tools/package failed: $(cat "$SCRATCH/package.err")"; finish; }
RPM2="$SCRATCH/next/$N-1.1-2.x86_64.rpm"
grep -q -x -F "$RPM2" "$SCRATCH/made" || { fail "tools/package named $(tr '\n' ' ' <"$SCRATCH/made"), not $RPM2"; finish; }

# With tools/package's filters of the errors an application under /opt gets by design.
rpmlint -r "$CORVANE_TEST_SOURCE_DIR/tools/ship/templates/rpm/rpmlintrc" "$RPM1" "$RPM2" >"$SCRATCH/rpmlint" 2>&1
grep -q -E '^[^ ]+: E: ' "$SCRATCH/rpmlint" && fail "rpmlint: $(grep -E '^[^ ]+: E: ' "$SCRATCH/rpmlint" | head -n 5 | tr '\n' '|')"
note "rpmlint: $(grep -E '^[^ ]+: W: ' "$SCRATCH/rpmlint" | awk '{ print $3 }' | sort | uniq -c | tr -s ' \n' ' ')"

# Both published with the test key into an rpm repository that keeps one version:
# the newer rpm stays, and repomd.xml carries the key's signature.
need_tool createrepo_c createrepo-c
timeout 300 "$CORVANE_TEST_SOURCE_DIR/tools/publish" -q --repo "$SCRATCH/repo" --key "$FINGERPRINT" --keep 1 \
  "$RPM1" "$RPM2" >/dev/null 2>"$SCRATCH/publish.err" || fail "tools/publish failed: $(cat "$SCRATCH/publish.err")"
kept=$(cd "$SCRATCH/repo/rpm" 2>/dev/null && echo ./*.rpm)
[ "$kept" = "./$(basename "$RPM2")" ] || fail "the rpm repository keeps '$kept', not only $(basename "$RPM2")"
gpgv --keyring "$SCRATCH/key.gpg" "$SCRATCH/repo/rpm/repodata/repomd.xml.asc" "$SCRATCH/repo/rpm/repodata/repomd.xml" \
  >"$SCRATCH/gpgv.out" 2>&1 || fail "repomd.xml's signature does not verify: $(tail -n 2 "$SCRATCH/gpgv.out" | tr '\n' '|')"

# An rpm whose header names the package repodata/../../../escape, which the file
# name would lead out of the repository: refused in one line, nothing lands
# outside the repository, and the repository stays as it was.
mkdir -p "$SCRATCH/crafted" && crafted_rpm "$SCRATCH/crafted/escape-1-1.x86_64.rpm" 'repodata/../../../escape'
before=$(find "$SCRATCH/repo" -printf '%P %i %s\n' | sort)
timeout 300 "$CORVANE_TEST_SOURCE_DIR/tools/publish" -q --repo "$SCRATCH/repo" --key "$FINGERPRINT" \
  "$SCRATCH/crafted/escape-1-1.x86_64.rpm" >/dev/null 2>"$SCRATCH/crafted.err" \
  && fail "tools/publish took an rpm whose header names repodata/../../../escape"
{ [ "$(wc -l <"$SCRATCH/crafted.err")" = 1 ] && grep -q -F 'has an invalid name' "$SCRATCH/crafted.err"; } \
  || fail "tools/publish did not refuse the crafted rpm in one line: $(tr '\n' '|' <"$SCRATCH/crafted.err")"
escaped=$(find "$SCRATCH" -name 'escape-*' ! -path "$SCRATCH/crafted/*")
[ -z "$escaped" ] || fail "the crafted rpm landed outside the repository: $escaped"
[ "$(find "$SCRATCH/repo" -printf '%P %i %s\n' | sort)" = "$before" ] || fail "a refused publish changed the repository folder"

# The .deb's files and links, but DEBIAN and lintian's overrides, are the rpm's.
dpkg-deb -c "$DEB1" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' | grep -v '^/usr/share/lintian/' | sort >"$SCRATCH/deb-files"
rpm -qp --qf '[%{FILEMODES:perms} %{FILENAMES}\n]' "$RPM1" | awk '$1 !~ /^d/ { print $2 }' | sort >"$SCRATCH/rpm-files"
diff "$SCRATCH/deb-files" "$SCRATCH/rpm-files" >"$SCRATCH/files.diff" || fail "the rpm's files differ from the .deb's: $(head -n 6 "$SCRATCH/files.diff" | tr '\n' '|')"
note_missing_dirs "$RPM1" "$RPM2"
rpm -qpl "$RPM1" "$RPM2" | sort -u >"$SCRATCH/files"

# ---- install 1.0 -----------------------------------------------------------------
{ rpm_db --initdb && rpm_db -i --nodeps "$RPM1" >"$SCRATCH/install.log" 2>&1; } \
  || { fail "rpm -i $RPM1 failed: $(tail -n 3 "$SCRATCH/install.log" | tr '\n' '|')"; finish; }
[ "$(readlink "$BASE/current")" = versions/1.0 ] || fail "current names $(readlink "$BASE/current"), not versions/1.0"
[ "$(stat -c %i "$BASE/versions/1.0/corvane" 2>/dev/null)" = "$(stat -c %i "$BASE/corvane")" ] \
  || fail "versions/1.0/corvane is no hard link of the installed launcher"
version=$(env "${demo_env[@]}" timeout 60 "/usr/bin/$N" --version 2>&1)
[[ $version == "Corvane "* ]] || fail "/usr/bin/$N --version printed '$version'"
# verify-copies reads rpm's digests (from the scratch database, through ~/.rpmmacros).
mkdir -p "$SCRATCH/home" && echo "%_dbpath $DB" >"$SCRATCH/home/.rpmmacros"
HOME="$SCRATCH/home" "$BASE/verify-copies" >"$SCRATCH/verify.out" 2>&1 || fail "verify-copies: $(head -n 3 "$SCRATCH/verify.out" | tr '\n' '|')"

# A process that maps a library of version 1.0's copy.
LIB="$BASE/versions/1.0/jre/lib/libjsig.so"
[ -f "$LIB" ] || { fail "no $LIB in the installed copy"; finish; }
LD_PRELOAD=$LIB sleep 600 &
HOLDER=$!
for _ in $(seq 100); do grep -q -F "$LIB" "/proc/$HOLDER/maps" 2>/dev/null && break; sleep 0.1; done

# ---- upgrade to 1:1.1-2 ----------------------------------------------------------
rpm_db -U --nodeps "$RPM2" >"$SCRATCH/upgrade.log" 2>&1 \
  || { fail "rpm -U $RPM2 failed: $(tail -n 3 "$SCRATCH/upgrade.log" | tr '\n' '|')"; finish; }
[ "$(rpm_db -q "$N")" = "$N-1.1-2.x86_64" ] || fail "installed after the upgrade: $(rpm_db -q "$N" | tr '\n' ' ')"
[ "$(rpm_db -q --qf '%{EPOCH}' "$N")" = 1 ] || fail "the upgrade's epoch is $(rpm_db -q --qf '%{EPOCH}' "$N"), not 1"
[ "$(readlink "$BASE/current")" = versions/1_1.1-2 ] || fail "current names $(readlink "$BASE/current"), not versions/1_1.1-2"
[ "$(readlink "$BASE/versions/1.0/corvane")" = ../../current/corvane ] \
  || fail "the launcher of the copy in use is not a link to current/corvane: $(ls -l "$BASE/versions/1.0/corvane" 2>&1)"
grep -q -x -F "baseurl=https://packages.example.org/$N/rpm" "/etc/yum.repos.d/$N.repo" \
  || fail "/etc/yum.repos.d/$N.repo lacks the baseurl: $(tr '\n' '|' <"/etc/yum.repos.d/$N.repo" 2>&1)"
gpg --batch --with-colons --show-keys "/etc/pki/rpm-gpg/RPM-GPG-KEY-$N" 2>/dev/null | grep -q -F ":$FINGERPRINT:" \
  || fail "/etc/pki/rpm-gpg/RPM-GPG-KEY-$N does not hold the test key $FINGERPRINT"
version=$(env "${demo_env[@]}" timeout 60 "/usr/bin/$N" --version 2>&1)
[[ $version == "Corvane "* ]] || fail "/usr/bin/$N --version after the upgrade printed '$version'"

kill "$HOLDER"
wait "$HOLDER" 2>/dev/null
HOLDER=""
for _ in $(seq 600); do [ -e "$BASE/versions/1.0" ] || break; sleep 0.1; done
[ ! -e "$BASE/versions/1.0" ] || fail "the copy versions/1.0 is still there 60 s after its last process ended"

# ---- erase -----------------------------------------------------------------------
rpm_db -e "$N" >"$SCRATCH/erase.log" 2>&1 || fail "rpm -e $N failed: $(tail -n 3 "$SCRATCH/erase.log" | tr '\n' '|')"
left=$(while IFS= read -r f; do [ -e "$f" ] || [ -L "$f" ] && echo "$f"; done <"$SCRATCH/files"; [ -e "$BASE" ] && echo "$BASE")
[ -z "$left" ] || fail "left after rpm -e: $(head -n 5 <<<"$left" | tr '\n' ' ')"
finish
