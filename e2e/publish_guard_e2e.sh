#!/usr/bin/env bash
# vorlane-pack publish against hostile packages and options, crashes and
# races, with hand-made packages (no JVM, no server):
#   - a .deb whose icon or changelog is a link to a private file, and a
#     tarball whose runtime `release` is one, are refused with status 2
#     naming the member, and nothing of the file reaches the site;
#   - a tarball with a 0777 folder and 0666 files is published with the
#     group and other write bits taken away, and says so;
#   - --base-url with shell syntax, bad --keep and --feed-valid-days values
#     are refused with status 2; %20 in the address reaches the page's
#     commands as it is, and --feed-valid-days 1..3650 is taken;
#   - a publish killed with SIGKILL while signing leaves a GnuPG home and
#     its agent, which the next publish removes and ends; a live run's home
#     is left alone;
#   - two first publishes into one new folder: the second is refused while
#     the first holds the site, and the site is the first's alone.
# A stand-in gpg on PATH stops at a chosen step and reports it through a
# FIFO: the test kills or races exactly there, with no sleeps.
#
#   publish_guard_e2e.sh PACK   (PACK: the vorlane-pack to run)
set -euo pipefail
pack="$(realpath "$1")"
for tool in apt-ftparchive dpkg-deb gpg gpgconf openssl tar pgrep timeout; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is missing (scripts/install-deps)"; exit 0; }
done
work="$(mktemp -d)"
started=()
cleanup() {
  local p
  for p in "${started[@]}"; do kill -9 "$p" 2>/dev/null || true; done
  [ -n "${KEEP_WORK:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAILED: $*" >&2; failures=$((failures + 1)); }
checked() { echo "checked: $*" >&2; }
url=http://127.0.0.1:1/site

# run ARGS...: publish, status in $status, messages in $work/err
run() {
  status=0
  "$pack" publish --quiet "$@" 2>"$work/err" || status=$?
}
# refused WHAT TEXT ARGS...: publish must end with status 2, saying TEXT
refused() {
  local what="$1" text="$2"
  shift 2
  run "$@"
  { [ "$status" -eq 2 ] && grep -qF -- "$text" "$work/err"; } ||
    fail "$what: status $status, not 2 with '$text': $(cat "$work/err")"
}

"$pack" publish --new-key "$work/key" 2>/dev/null
"$pack" publish --new-key "$work/key2" 2>/dev/null
key=(--signing-key "$work/key/signing-key.asc")

# deb DIR VERSION: DIR/tinyapp_VERSION_amd64.deb from the tree DIR/d
deb() {
  mkdir -p "$1/d/DEBIAN"
  printf 'Package: tinyapp\nVersion: %s\nArchitecture: amd64\nMaintainer: A <a@b.org>\nDescription: tiny\n long\n' \
    "$2" >"$1/d/DEBIAN/control"
  dpkg-deb --root-owner-group -b "$1/d" "$1/tinyapp_$2_amd64.deb" >/dev/null
}
echo 'private bytes of this machine' >"$work/secret"
chmod 0600 "$work/secret"

# --- Links in packages: refused, naming the member; nothing leaks ------------
icons=usr/share/icons/hicolor
mkdir -p "$work/icon/d/$icons/48x48/apps"
ln -s "$work/secret" "$work/icon/d/$icons/48x48/apps/tinyapp.png"
deb "$work/icon" 1.0-1
refused "an icon linked to a private file" "./$icons/48x48/apps/tinyapp.png is a symbolic link" \
  "$work/s1" "$work/icon/tinyapp_1.0-1_amd64.deb" --base-url "$url" "${key[@]}"
mkdir -p "$work/dirlink/d/usr/share/icons/hicolor"
ln -s "$work" "$work/dirlink/d/$icons/48x48"
deb "$work/dirlink" 1.0-1
refused "an icon folder linked out of the package" "./$icons/48x48 is a symbolic link" \
  "$work/s1" "$work/dirlink/tinyapp_1.0-1_amd64.deb" --base-url "$url" "${key[@]}"
mkdir -p "$work/log/d/usr/share/doc/tinyapp"
ln -s "$work/secret" "$work/log/d/usr/share/doc/tinyapp/changelog.Debian.gz"
deb "$work/log" 1.0-1
# tarball DIR VERSION: DIR/tinyapp-VERSION-linux-x86_64.tar.gz of DIR/t/tinyapp
tarball() {
  tar -czf "$1/tinyapp-$2-linux-x86_64.tar.gz" -C "$1/t" tinyapp
}
mkdir -p "$work/log/t/tinyapp/versions/1.0-1/lib/app"
echo jar >"$work/log/t/tinyapp/versions/1.0-1/lib/app/app.jar"
tarball "$work/log" 1.0
refused "a changelog linked to a private file" "./usr/share/doc/tinyapp/changelog.Debian.gz is a symbolic link" \
  "$work/s1" "$work/log/tinyapp_1.0-1_amd64.deb" "$work/log/tinyapp-1.0-linux-x86_64.tar.gz" \
  --base-url "$url" "${key[@]}" --feed-key "$work/key/feed-key.pem"
mkdir -p "$work/rel/t/tinyapp/versions/1.0-1/lib/runtime"
ln -s "$work/secret" "$work/rel/t/tinyapp/versions/1.0-1/lib/runtime/release"
tarball "$work/rel" 1.0
refused "a runtime release linked to a private file" "lib/runtime/release is a symbolic link" \
  "$work/s1" "$work/rel/tinyapp-1.0-linux-x86_64.tar.gz" --base-url "$url" "${key[@]}" \
  --feed-key "$work/key/feed-key.pem"
mkdir -p "$work/root/t"
ln -s "$work/log/t/tinyapp" "$work/root/t/tinyapp"
tarball "$work/root" 1.0
refused "a tarball whose tree is a link" "./tinyapp is a symbolic link" \
  "$work/s1" "$work/root/tinyapp-1.0-linux-x86_64.tar.gz" --base-url "$url" "${key[@]}" \
  --feed-key "$work/key/feed-key.pem"
[ ! -e "$work/s1" ] || fail "a refused first publish left the site folder"
checked "links in packages: refused, naming the member"

# --- A tarball that unpacks to more than publish unpacks ------------------------
mkdir -p "$work/sparse/t/tinyapp/versions/1.0-1"
truncate -s 5G "$work/sparse/t/tinyapp/versions/1.0-1/zeros"
tar --sparse -czf "$work/sparse/tinyapp-1.0-linux-x86_64.tar.gz" -C "$work/sparse/t" tinyapp
rm -rf "$work/sparse/t"
refused "a sparse 5 GiB file in a tarball" "unpacks to more than 4294967296 bytes" \
  "$work/s1" "$work/sparse/tinyapp-1.0-linux-x86_64.tar.gz" --base-url "$url" "${key[@]}" \
  --feed-key "$work/key/feed-key.pem"
[ ! -e "$work/s1" ] || fail "a refused first publish left the site folder"
checked "a tarball over the unpacking bound is refused on its listing"

# --- Modes, options ------------------------------------------------------------
mkdir -p "$work/modes/t/tinyapp/versions/1.0-1/lib/app"
echo jar >"$work/modes/t/tinyapp/versions/1.0-1/lib/app/app.jar"
chmod 0777 "$work/modes/t/tinyapp/versions/1.0-1/lib"
chmod 0666 "$work/modes/t/tinyapp/versions/1.0-1/lib/app/app.jar"
tarball "$work/modes" 1.0
site="$work/site"
for bad in 0 -1 +1 1.5 abc 0x10 ' 3'; do
  refused "--keep '$bad'" "--keep '$bad'" "$site" "$work/modes/tinyapp-1.0-linux-x86_64.tar.gz" \
    --base-url "$url" "${key[@]}" --keep="$bad"
done
for bad in 0 3651 -1 1e3 seven; do
  refused "--feed-valid-days '$bad'" "--feed-valid-days '$bad'" "$site" \
    "$work/modes/tinyapp-1.0-linux-x86_64.tar.gz" --base-url "$url" "${key[@]}" \
    --feed-key "$work/key/feed-key.pem" --feed-valid-days="$bad"
done
refused "--feed-valid-days without a feed key" "give --feed-key" "$site" \
  "$work/modes/tinyapp-1.0-linux-x86_64.tar.gz" --base-url "$url" "${key[@]}" --feed-valid-days 30
refused "a shell command in --base-url" "--base-url" "$site" \
  "$work/modes/tinyapp-1.0-linux-x86_64.tar.gz" --base-url 'https://example.org/a;{touch,/tmp/pwned};' \
  "${key[@]}"
[ ! -e "$site" ] || fail "a refused first publish left the site folder"
deb "$work/plain" 1.0-1
run "$site" "$work/modes/tinyapp-1.0-linux-x86_64.tar.gz" "$work/plain/tinyapp_1.0-1_amd64.deb" \
  --base-url 'https://example.org/my%20apps/tiny' "${key[@]}" --feed-key "$work/key/feed-key.pem" --keep 3
[ "$status" -eq 0 ] || fail "publish with %20 and --keep 3: status $status: $(cat "$work/err")"
manifest="$site/updates/stable/amd64/1.0-1"
grep -q '^dir 0755 lib$' "$manifest" || fail "the 0777 folder is not listed as 0755: $(grep ' lib$' "$manifest")"
grep -q '^file 0644 .* lib/app/app.jar$' "$manifest" || fail "the 0666 jar is not listed as 0644"
grep -q 'without their group and other write permission' "$work/err" || fail "no note on the modes taken away"
# The page's apt commands, pasted into a shell, write the address as given.
python3 -c 'import html, re, sys; print(html.unescape("".join(re.findall(r"<pre>(.*?)</pre>", open(sys.argv[1]).read(), re.S))))' \
  "$site/index.html" >"$work/commands" || true
grep '^printf ' "$work/commands" | sed 's/ | sudo tee .*//' | sh >"$work/sources" || true
grep -qx 'URIs: https://example.org/my%20apps/tiny' "$work/sources" ||
  fail "the page's sources command does not keep %20: $(cat "$work/sources")"
mkdir -p "$work/days/t/tinyapp/versions/1.1-1"
echo 'version 1.1' >"$work/days/t/tinyapp/versions/1.1-1/README"
tarball "$work/days" 1.1
run "$site" "$work/days/tinyapp-1.1-linux-x86_64.tar.gz" "${key[@]}" --feed-key "$work/key/feed-key.pem" \
  --feed-valid-days 3650
[ "$status" -eq 0 ] || fail "publish with --feed-valid-days 3650: status $status: $(cat "$work/err")"
checked "modes normalised; bad numbers and addresses refused; %20 kept"

# --- The feed renewed by --feed-valid-days alone --------------------------------
latest="$site/updates/stable/amd64/latest"
before="$(grep '^expires ' "$latest")"
run "$site" "$work/days/tinyapp-1.1-linux-x86_64.tar.gz" "${key[@]}" --feed-key "$work/key/feed-key.pem" \
  --feed-valid-days 30
[ "$status" -eq 0 ] || fail "a renewing publish: status $status: $(cat "$work/err")"
after="$(grep '^expires ' "$latest")"
[ "$after" != "$before" ] || fail "re-publishing with --feed-valid-days 30 left latest's '$before'"
cmp -s "$latest" "$site/updates/stable/amd64/1.1-1" || fail "latest is not the renewed 1.1-1"
sed -i 's/^arch amd64$/arch arm64/' "$site/updates/stable/amd64/1.1-1"
refused "renewing a manifest changed on the site" "not an update manifest signed with the given" \
  "$site" "$work/days/tinyapp-1.1-linux-x86_64.tar.gz" "${key[@]}" \
  --feed-key "$work/key/feed-key.pem" --feed-valid-days 30
cp "$latest" "$site/updates/stable/amd64/1.1-1"
checked "--feed-valid-days signs latest again; a changed manifest is not signed"

# --- A site file changed behind the record is not fed or copied ------------------
rec="$work/rec-site"
run "$rec" "$work/modes/tinyapp-1.0-linux-x86_64.tar.gz" --base-url "$url" "${key[@]}"
[ "$status" -eq 0 ] || fail "a publish without a feed: status $status: $(cat "$work/err")"
cp "$work/days/tinyapp-1.1-linux-x86_64.tar.gz" "$rec/files/tinyapp-1.0-linux-x86_64.tar.gz"
refused "feeding a tarball changed on the site" "does not have the SHA-256 vorlane-site.txt records" \
  "$rec" "$work/plain/tinyapp_1.0-1_amd64.deb" "${key[@]}" --feed-key "$work/key/feed-key.pem"
[ ! -e "$rec/updates" ] || fail "a tarball changed on the site went into the feed"
checked "a file of the site is used only with its recorded SHA-256"

# --- A stand-in gpg that stops at one step ------------------------------------
hook="$work/hook"
mkdir -p "$hook"
mkfifo "$hook/reached" "$hook/go"
cat >"$hook/gpg" <<EOF
#!/bin/sh
# Stops at the gpg step named in $hook/at: says "PID GNUPGHOME" into the
# FIFO reached, waits on the FIFO go, then runs the real gpg.
at="\$(cat "$hook/at" 2>/dev/null || true)"
for a in "\$@"; do
  if [ -n "\$at" ] && [ "\$a" = "\$at" ]; then
    echo "\$\$ \$GNUPGHOME" >"$hook/reached"
    read -r _ <"$hook/go"
    break
  fi
done
exec $(command -v gpg) "\$@"
EOF
chmod 0755 "$hook/gpg"
# hooked STEP ARGS...: a publish in the background that stops at STEP; its
# pid in $hooked_pid, the stopped gpg's pid and home in $gpg_pid and $home.
hooked() {
  echo "$1" >"$hook/at"
  shift
  PATH="$hook:$PATH" "$pack" publish --quiet "$@" 2>"$work/hooked-err" &
  hooked_pid=$!
  started+=("$hooked_pid")
  read -r gpg_pid home < <(timeout 300 cat "$hook/reached") || true
  rm -f "$hook/at"
}
release() { echo go >"$hook/go"; }

# --- Killed while signing: the key and its agent go at once, or at the next publish ---
# killed_publish: a publish killed outright while it signs; its home in
# $killed_home, its agent in $agent, its home's watcher in $watcher.
killed_publish() {
  hooked --clearsign "$site" "$work/v2/tinyapp_2.0-1_amd64.deb" "${key[@]}"
  killed_home="${home:-}"
  [ -n "$killed_home" ] || { fail "the publish never reached signing: $(cat "$work/hooked-err")"; return 1; }
  agent="$(pgrep -f -- "gpg-agent.*$killed_home" | head -n1 || true)"
  [ -z "$agent" ] || started+=("$agent")
  watcher="$(pgrep -f -- "sh $killed_home /" | head -n1 || true)"
  scratch_watcher="$(pgrep -f -- "sh $site/..vorlane-next" | head -n1 || true)"
  [ -n "$scratch_watcher" ] || fail "no watcher of the scratch folder: the test proves nothing"
  [ -n "$(ls "$killed_home/private-keys-v1.d")" ] || fail "no secret key in $killed_home while signing"
  { [ -n "$agent" ] && [ -n "$watcher" ]; } || fail "no agent or no watcher of $killed_home: the test proves nothing"
}
gone() { # gone PID...: waits (bounded) until each has ended
  for p in "$@"; do timeout 60 tail --pid="$p" -f /dev/null || true; ! kill -0 "$p" 2>/dev/null || return 1; done
}
deb "$work/v2" 2.0-1
if killed_publish; then
  kill -9 "$hooked_pid"
  wait "$hooked_pid" 2>/dev/null || true
  kill -9 "$gpg_pid" 2>/dev/null || true
  gone "$watcher" "$agent" "$scratch_watcher" || fail "the killed publish's watchers or gpg-agent still run"
  [ ! -e "$killed_home" ] || fail "the killed publish's home $killed_home stays"
  [ -z "$(find "$site" -maxdepth 1 -name '..vorlane-next.vorlane-*')" ] ||
    fail "the killed publish left its scratch folder in the site"
  checked "a publish killed while signing leaves no key, no agent and no scratch folder"
fi
# Its watcher killed with it (a kill of everything the run started): the next publish cleans up.
if killed_publish; then
  kill -9 "$watcher" "$hooked_pid"
  wait "$hooked_pid" 2>/dev/null || true
  kill -9 "$gpg_pid" 2>/dev/null || true
  [ -d "$killed_home" ] || fail "the home went without its watcher: the test proves nothing"
  # A live run's home stays: this one stops at its import, holding its home.
  hooked --import "$work/other-site" "$work/plain/tinyapp_1.0-1_amd64.deb" --base-url "$url" "${key[@]}"
  live_pid="$hooked_pid"
  live_home="${home:-}"
  run "$site" "$work/v2/tinyapp_2.0-1_amd64.deb" "${key[@]}"
  [ "$status" -eq 0 ] || fail "the publish after a killed one: status $status: $(cat "$work/err")"
  [ ! -e "$killed_home" ] || fail "the next publish left the killed one's home $killed_home"
  gone "$agent" || fail "the killed publish's gpg-agent ($agent) still runs"
  { [ -n "$live_home" ] && [ -d "$live_home" ]; } || fail "the next publish removed a live run's home"
  release
  status=0
  wait "$live_pid" || status=$?
  [ "$status" -eq 0 ] || fail "the run stopped at its import: status $status: $(cat "$work/hooked-err")"
  [ ! -e "$live_home" ] || fail "a finished publish left its home $live_home"
  checked "a killed publish's key and agent are gone after the next publish"
fi

# --- Two first publishes into one new folder ---------------------------------
new="$work/new-site"
hooked --import "$new" "$work/plain/tinyapp_1.0-1_amd64.deb" --base-url "$url" "${key[@]}"
first_pid="$hooked_pid"
run "$new" "$work/v2/tinyapp_2.0-1_amd64.deb" --base-url "$url" --signing-key "$work/key2/signing-key.asc"
{ [ "$status" -eq 2 ] && grep -q 'another vorlane-pack publish is at work' "$work/err"; } ||
  fail "a second first publish while the first holds the site: status $status: $(cat "$work/err")"
[ -z "${home:-}" ] || release
status=0
wait "$first_pid" || status=$?
[ "$status" -eq 0 ] || fail "the first of two publishes: status $status: $(cat "$work/hooked-err")"
fingerprint() { gpg --show-keys --with-colons "$1" 2>/dev/null | awk -F: '/^fpr/ {print $10; exit}'; }
grep -qx "key $(fingerprint "$work/key/KEY.asc")" "$new/vorlane-site.txt" ||
  fail "the site is not signed with the first publish's key"
[ -z "$(find "$new" -name '*2.0-1*')" ] || fail "the refused publish left a package: $(find "$new" -name '*2.0-1*')"
grep -q '_1.0-1_amd64.deb' "$new/vorlane-site.txt" || fail "the first publish's package is not listed"
checked "two first publishes: one waits its turn, the site is whole"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "publish_guard_e2e: all checks passed"
