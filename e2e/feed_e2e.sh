#!/usr/bin/env bash
# The update feed of vorlane-pack publish, end to end: a hand-made
# self-updating tarball published as 1.0, then as 1.1 with one file
# changed, adds one stored file; `latest` names 1.1 and keeps it when an
# older version follows; openssl accepts each manifest's signature with
# the site's feed-key.pub.pem; the notes come from --notes or the .deb's
# changelog; another feed key, and a tarball the feed
# cannot carry, are refused with status 2 and leave the site as it was.
#
#   feed_e2e.sh PACK   (PACK: the vorlane-pack to run)
set -euo pipefail
pack="$(realpath "$1")"
for tool in apt-ftparchive dpkg-deb gpg openssl tar; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is missing (scripts/install-deps)"; exit 0; }
done
work="$(mktemp -d)"
trap '[ -n "${KEEP_WORK:-}" ] || rm -rf "$work"' EXIT
failures=0
fail() { echo "FAILED: $*" >&2; failures=$((failures + 1)); }
site="$work/site"
updates="$site/updates/stable/amd64"

# tarball VERSION FULL-VERSION TEXT: tinyapp-VERSION-linux-x86_64.tar.gz,
# whose lib/app/app.jar holds TEXT.
tarball() {
  local root="$work/t/tinyapp" tree="$work/t/tinyapp/versions/$2"
  rm -rf "$work/t"
  mkdir -p "$tree/bin" "$tree/lib/app" "$tree/lib/runtime/lib/server" "$root/bin"
  printf '#!/bin/sh\necho tiny\n' >"$tree/bin/tinyapp"
  chmod 0755 "$tree/bin/tinyapp"
  printf '%s\n' "$3" >"$tree/lib/app/app.jar"
  echo 'JAVA_VERSION="17.0.9"' >"$tree/lib/runtime/release"
  echo "differs in every build $2" >"$tree/lib/runtime/lib/server/classes.jsa"
  echo 'same in every version' >"$tree/lib/app/my file.txt"
  ln -s "../versions/$2/bin/tinyapp" "$root/bin/tinyapp"
  tar -czf "$work/tinyapp-$1-linux-x86_64.tar.gz" -C "$work/t" tinyapp
}
objects() { find "$site/files/sha256" -type f 2>/dev/null | wc -l; }
listing() { (cd "$site" && find . -path ./.vorlane-next -prune -o -print | sort && cat vorlane-site.txt); }
# verify MANIFEST: openssl checks line 1's signature over the rest.
verify() {
  head -n1 "$1" | cut -d' ' -f3 | base64 -d >"$work/sig"
  tail -n +2 "$1" >"$work/body"
  openssl pkeyutl -verify -pubin -inkey "$site/feed-key.pub.pem" -rawin -in "$work/body" \
    -sigfile "$work/sig" >/dev/null 2>&1
}
publish() {  # TARBALL [OPTIONS...]: status in $status, errors in $work/err
  local tarball="$1"
  shift
  status=0
  "$pack" publish --quiet "$site" "$work/$tarball" --base-url http://127.0.0.1:1/site \
    --signing-key "$work/key/signing-key.asc" "$@" 2>"$work/err" || status=$?
}

"$pack" publish --new-key "$work/key" 2>"$work/err"
[ "$(stat -c %a "$work/key/feed-key.pem")" = 600 ] || fail "--new-key makes no feed-key.pem of mode 0600"
printf 'Faster start.\nÉtés.\n' >"$work/notes.txt"

tarball 1.0 1.0-1 'version one'
publish tinyapp-1.0-linux-x86_64.tar.gz --feed-key "$work/key/feed-key.pem" --notes "$work/notes.txt"
[ "$status" -eq 0 ] || fail "publish 1.0: status $status: $(cat "$work/err")"
first="$(objects)"
[ "$first" -eq 4 ] || fail "1.0 stored $first files, not 4 (the runtime's archive is remade)"
grep -qx 'remake lib/runtime/lib/server/classes.jsa' "$updates/1.0-1" || fail "classes.jsa is not remade"
grep -q ' lib/app/my%20file.txt$' "$updates/1.0-1" || fail "the path with a blank is not encoded"
[ "$(grep '^notes ' "$updates/1.0-1" | cut -d' ' -f2 | base64 -d)" = "$(cat "$work/notes.txt")" ] ||
  fail "the notes are not the --notes file"
grep -q "^feed-key $(openssl pkey -pubin -in "$site/feed-key.pub.pem" -outform DER | base64 -w0)\$" \
  "$site/vorlane-site.txt" || fail "vorlane-site.txt does not record the feed key"

tarball 1.1 1.1-1 'version two'
# A .deb of 1.1-1 beside it gives the notes: its changelog's entry.
deb="$work/deb"
mkdir -p "$deb/DEBIAN" "$deb/usr/share/doc/tinyapp"
printf 'Package: tinyapp\nVersion: 1.1-1\nArchitecture: amd64\nMaintainer: A <a@b.org>\nDescription: tiny\n' \
  >"$deb/DEBIAN/control"
printf 'tinyapp (1.1-1) unstable; urgency=medium\n\n  * New menu.\n\n -- A <a@b.org>  Tue, 08 Dec 2026 03:00:00 +0000\n' |
  gzip -9n >"$deb/usr/share/doc/tinyapp/changelog.Debian.gz"
dpkg-deb --root-owner-group --build "$deb" "$work/tinyapp_1.1-1_amd64.deb" >/dev/null
publish tinyapp-1.1-linux-x86_64.tar.gz "$work/tinyapp_1.1-1_amd64.deb" --feed-key "$work/key/feed-key.pem"
[ "$status" -eq 0 ] || fail "publish 1.1: status $status: $(cat "$work/err")"
[ "$(objects)" -eq $((first + 1)) ] || fail "1.1 with one changed file stored $(($(objects) - first)) files"
cmp -s "$updates/latest" "$updates/1.1-1" || fail "latest does not name 1.1-1"
[ "$(grep '^notes ' "$updates/1.1-1" | cut -d' ' -f2 | base64 -d)" = '* New menu.' ] ||
  fail "the notes of 1.1-1 are not its changelog entry"
jar_hash="$(awk '$NF == "lib/app/app.jar" {print $4}' "$updates/1.1-1")"
[ "$(gzip -dc "$site/files/sha256/${jar_hash:0:2}/${jar_hash:2}")" = 'version two' ] ||
  fail "the stored jar is not 1.1's"
for m in "$updates/1.0-1" "$updates/1.1-1"; do verify "$m" || fail "openssl refuses the signature of $m"; done
sed 's/^version 1.1-1$/version 1.1-2/' "$updates/1.1-1" >"$work/tampered"
! verify "$work/tampered" || fail "openssl accepts a tampered manifest"

tarball 1.0.5 1.0.5-1 'version one and a half'
publish tinyapp-1.0.5-linux-x86_64.tar.gz --feed-key "$work/key/feed-key.pem"
[ "$status" -eq 0 ] || fail "publish 1.0.5: status $status: $(cat "$work/err")"
cmp -s "$updates/latest" "$updates/1.1-1" || fail "an older version replaced latest"

before="$(listing)"
openssl genpkey -algorithm ed25519 -out "$work/other.pem" 2>/dev/null
tarball 1.2 1.2-1 'version three'
publish tinyapp-1.2-linux-x86_64.tar.gz --feed-key "$work/other.pem"
{ [ "$status" -eq 2 ] && grep -q 'feed key' "$work/err"; } || fail "another feed key: status $status"
mkfifo "$work/t/tinyapp/versions/1.2-1/lib/app/pipe"
tar -czf "$work/tinyapp-1.2-linux-x86_64.tar.gz" -C "$work/t" tinyapp
publish tinyapp-1.2-linux-x86_64.tar.gz --feed-key "$work/key/feed-key.pem"
{ [ "$status" -eq 2 ] && grep -q 'pipe' "$work/err"; } || fail "a FIFO in the tree: status $status"
[ "$(listing)" = "$before" ] || fail "a refused publish changed the site"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "feed_e2e: all checks passed"
