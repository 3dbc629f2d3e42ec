# shellcheck shell=bash
# Helpers of the tests that take packages from a repository of tools/publish:
# throwaway signing keys, the repository served over HTTP on 127.0.0.1, and
# apt-get limited to sources of the test's own (Debian's sources, lists and
# package cache stay untouched). Source after lib.sh and xvfb.sh.
REPO_GNUPG="" REPO_APT="" REPO_HTTP_PID=""

# A GnuPG home with no key yet (short path: gpg-agent's socket lives in it)
# and the state folder for apt (readable by apt's _apt sandbox user); the
# HTTP server for $SCRATCH/www, whose base URL it sets as REPO_BASE.
repo_setup() {
  REPO_GNUPG=$(mktemp -d /tmp/corvane-gnupg.XXXXXX) || { fail "cannot make a GnuPG home"; finish; }
  export GNUPGHOME=$REPO_GNUPG
  REPO_APT=$(mktemp -d /tmp/corvane-apt.XXXXXX) || { fail "cannot make apt's folder"; finish; }
  chmod 755 "$REPO_APT"
  mkdir -p "$REPO_APT/sources" "$REPO_APT/keys" "$REPO_APT/lists/partial" "$REPO_APT/archives/partial" "$SCRATCH/www"
  python3 -u -m http.server 0 --bind 127.0.0.1 --directory "$SCRATCH/www" >"$SCRATCH/http.log" 2>&1 &
  REPO_HTTP_PID=$!
  local port="" _
  for _ in $(seq 100); do
    port=$(sed -n 's/^Serving HTTP on 127\.0\.0\.1 port \([0-9]*\) .*/\1/p' "$SCRATCH/http.log")
    [ -n "$port" ] && break
    sleep 0.1
  done
  [ -n "$port" ] || { fail "the HTTP server did not start: $(head -n 3 "$SCRATCH/http.log")"; finish; }
  # shellcheck disable=SC2034 # read by the tests that source this file
  REPO_BASE="http://127.0.0.1:$port"
}

# repo_key <name>: a new throwaway signing key; prints its fingerprint.
repo_key() {
  gpg --batch --passphrase '' --quick-gen-key "$1 <$1@example.org>" ed25519 sign never >/dev/null 2>&1 || return 1
  gpg --batch --with-colons --list-keys "<$1@example.org>" | awk -F: '/^fpr/ { print $10; exit }'
}

# The fingerprints of the primary keys in a key file, one per line.
key_fingerprints() {
  gpg --batch --with-colons --show-keys "$1" 2>/dev/null | awk -F: '/^pub/ { p = 1 } /^fpr/ && p { print $10; p = 0 }'
}

# apt_repo <apt-get arguments...>: apt-get with the sources in $REPO_APT/sources only.
apt_repo() {
  apt_get -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$REPO_APT/sources" \
    -o Dir::State::Lists="$REPO_APT/lists" -o Dir::Cache::Archives="$REPO_APT/archives" \
    -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache= -o Acquire::http::Proxy::127.0.0.1=DIRECT "$@"
}

# The exit trap's part: the HTTP server, gpg-agent and the folders go.
repo_cleanup() {
  [ -n "$REPO_HTTP_PID" ] && kill "$REPO_HTTP_PID" 2>/dev/null
  if [ -n "$REPO_GNUPG" ]; then
    gpgconf --homedir "$REPO_GNUPG" --kill gpg-agent 2>/dev/null
    rm -rf "$REPO_GNUPG"
  fi
  [ -n "$REPO_APT" ] && rm -rf "$REPO_APT"
}
