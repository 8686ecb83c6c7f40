#!/usr/bin/env bash
# The self-update of a tarball install, end to end: an app on the update
# library (e2e/update_probe) in versions 1.0-1, 1.1-1 (one file changed) and
# 1.2-1 (a large new file), made by vorlane-pack app --updates and package
# --update-feed-key, published with publish --feed-key to a site served on
# loopback by e2e/update_server.py, installed by unpacking the tar.gz.
#   - check counts only the missing bytes; apply switches, with the unchanged
#     files hard-linked; rollback and the documented command go back;
#   - faults (a table): tampered or other-key manifests, bad paths, lines,
#     versions, names; a file whose hash differs; 500, stall, a server that
#     trickles, server down, a file: site; a feed older than the install; a
#     deb install; a downgrade. After each the app starts on 1.0-1 and
#     nothing under the install changed but versions/.downloads;
#   - links planted in versions/ (a table): their targets stay as they were;
#   - modes: group- or other-writable modes in the manifest and a umask of 0
#     make nothing writable by group or others;
#   - a drop mid-file, then a resume with Range (and a server without ranges,
#     and one that answers another range);
#   - SIGKILL at every step of an apply: the app starts on a whole version
#     and the next apply completes;
#   - two applies at once; an instance started before the switch keeps
#     running on its version, and its version stays through a second apply;
#     a full disk (a small tmpfs; "not checked" where it cannot be mounted)
#     leaves no partial file.
#
#   update_e2e.sh PREFIX PROBE-JAR
set -euo pipefail
prefix="$(cd "$1" && pwd)"
probe_jar="$2"
here="$(cd "$(dirname "$0")" && pwd)"
pack="$prefix/bin/vorlane-pack"
for tool in python3 openssl curl; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is missing (scripts/install-deps)"; exit 0; }
done
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
export no_proxy=127.0.0.1
work="$(mktemp -d)"
server=""
background=()
mounted=""
cleanup() {
  local p
  for p in "${background[@]}"; do kill -KILL "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
  [ -z "$server" ] || { kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; }
  [ -z "$mounted" ] || umount "$mounted" 2>/dev/null || umount -l "$mounted" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAILED: $*" >&2; failures=$((failures + 1)); }
reported=0
ok() {  # WHAT: says ok when nothing failed since the last report
  [ "$failures" -ne "$reported" ] || echo "ok: $*" >&2
  reported=$failures
}
name=updapp
arch="$(dpkg --print-architecture 2>/dev/null || echo amd64)"

# --- The server, the feed key, the three versions' trees and the site
mkfifo "$work/server.out"
python3 "$here/update_server.py" "$work/www" "$work/server.log" >"$work/server.out" &
server=$!
exec 3<"$work/server.out"
read -r -t 60 -u 3 port || { echo "FAILED: the test server did not start" >&2; exit 1; }
mkdir -p "$work/www/site"
url="http://127.0.0.1:$port/site"
cue() { curl -sf --noproxy '*' --max-time 30 "http://127.0.0.1:$port/_cue/$1" >/dev/null; }
key="$work/key"
"$pack" publish --new-key "$key" 2>"$work/new-key.txt"
openssl pkey -in "$key/feed-key.pem" -pubout -out "$work/feed-key.pub.pem"
openssl genpkey -algorithm ed25519 -out "$work/other-key.pem" 2>/dev/null
feed_key="$(grep -v '^-----' "$work/feed-key.pub.pem" | tr -d '\n')"

record() {  # TREE VERSION KIND: an install record by hand, as a new file (trees share inodes)
  rm -f "$1/lib/vorlane-update.properties"
  printf 'kind=%s\nname=%s\nversion=%s\narch=%s\nsite=%s\nchannel=stable\nfeed-key=%s\n' \
    "$3" "$name" "$2" "$arch" "$url" "$feed_key" >"$1/lib/vorlane-update.properties"
}
tree_of() { echo "$work/unpacked/$1/$name/versions/$1"; }  # VERSION: its tree as the tar.gz holds it
runtime=()
# Published in version order: each manifest's date is at least its predecessor's.
for v in 1.0 1.1 1.2; do
  mkdir -p "$work/in/$v"
  cp "$probe_jar" "$work/in/$v/"
  echo "data $v-1" >"$work/in/$v/data.txt"
  [ "$v" != 1.2 ] || head -c 6000000 /dev/urandom >"$work/in/$v/blob.bin"
  SOURCE_DATE_EPOCH=1765000000 "$pack" app --quiet --updates --name "$name" --input "$work/in/$v" \
    --main-class updprobe.Main --dest "$work/trees/$v" "${runtime[@]}"
  runtime=(--runtime-image "$work/trees/1.0/$name/lib/runtime")
  SOURCE_DATE_EPOCH=1765000000 "$pack" package --quiet --compression fast --type tar.gz "$work/trees/$v/$name" \
    --dest "$work/packages/$v" --app-version "$v" --maintainer 'Ann Example <ann@example.org>' \
    --description 'An app that updates itself' --long-description 'Runs the update library.' \
    --update-site "$url" --update-key "$key/KEY.asc" --update-feed-key "$work/feed-key.pub.pem"
  "$pack" publish --quiet "$work/www/site" "$work/packages/$v/"*.tar.gz --base-url "$url" \
    --signing-key "$key/signing-key.asc" --feed-key "$key/feed-key.pem" --feed-valid-days 30
  mkdir -p "$work/unpacked/$v-1"
  tar -xzf "$work/packages/$v/"*.tar.gz -C "$work/unpacked/$v-1"
done
feed="$work/www/site/updates/stable/$arch"
if [ "$(sed -n 2p "$feed/latest")" != 'vorlane-update 2' ] || ! grep -q '^expires ' "$feed/latest"; then
  fail "publish --feed-valid-days signed no expiry into the manifest"
fi
cp "$feed/1.1-1" "$feed/latest"
cp "$feed/latest" "$work/latest.good"
restore_site() { cp "$work/latest.good" "$feed/latest"; cue normal; }

n=0
install() {  # [VERSION]: a fresh install of VERSION (default 1.0-1), its root in $R
  local v="${1:-1.0-1}"
  n=$((n + 1))
  R="$work/inst/$n/$name"
  mkdir -p "$work/inst/$n"
  cp -al "$work/unpacked/$v/$name" "$work/inst/$n/"
}
app() {  # ARGS...: runs the installed app, bounded; its output in $out, its status in $status
  status=0
  out="$(UPDPROBE_TIMEOUT=5 timeout 300 "$R/bin/$name" "$@" 2>&1)" || status=$?
}
listing() {  # what an apply must leave alone: everything under $R but versions/.downloads and .lock
  (cd "$R" && {
    find . -path ./versions/.downloads -prune -o -name .lock -prune -o -type f -printf '%P %m %s %i %T@\n'
    find . -path ./versions/.downloads -prune -o -type l -printf '%P -> %l\n'
    find . -path ./versions/.downloads -prune -o -type d -printf '%P/ %m\n'
  } | sort)
}
expect_version() {  # VERSION WHAT
  app
  [ "$out" = "version $1 TARBALL" ] || fail "$2: the app starts as '$out', not on $1"
}
no_leftovers() {  # WHAT
  local left
  left="$(cd "$R" && ls -d versions/.staging-* "bin/.$name.new" 2>/dev/null || true)"
  [ -z "$left" ] || fail "$1: left behind $left"
}
# Background app runs with their input and output on pipes: a bounded read
# of the output waits for a step, closing the input lets a paused one go on.
start_app() {  # ARGS...: starts the app in the background; $bg its pid, fds 5 (output) and 6 (input)
  rm -f "$work/bg.in" "$work/bg.out"
  mkfifo "$work/bg.in" "$work/bg.out"
  UPDPROBE_TIMEOUT=5 "$R/bin/$name" "$@" <"$work/bg.in" >"$work/bg.out" 2>&1 &
  bg=$!
  background+=("$bg")
  exec 6>"$work/bg.in" 5<"$work/bg.out"
}
wait_line() {  # PATTERN: reads the background app's output until a line matches (bounded)
  local line
  while read -r -t 300 -u 5 line; do
    echo "  app: $line" >&2
    [[ "$line" =~ $1 ]] && return 0
  done
  return 1
}
end_app() {  # SIGNAL: ends the background app
  [ "$1" = none ] || kill "-$1" "$bg" 2>/dev/null || true
  exec 6>&- 5<&-
  wait "$bg" 2>/dev/null || true
}

# --- An update, then back
install
app check
echo "  check: $out (the tar.gz is $(stat -c %s "$work/packages/1.1/"*.tar.gz) bytes)" >&2
if [[ "$out" =~ ^update\ 1\.1-1\ ([0-9]+)$ ]]; then
  # Two small files changed (data.txt and the record); the tree is tens of MB.
  [ "${BASH_REMATCH[1]}" -gt 0 ] && [ "${BASH_REMATCH[1]}" -lt 4096 ] ||
    fail "check counts ${BASH_REMATCH[1]} bytes to fetch, not only the two changed files"
else
  fail "check: $out"
fi
app apply
[ "$out" = "applied 1.1-1" ] || fail "apply: $out"
expect_version 1.1-1 "after apply"
[ "$(stat -c %i "$R/versions/1.0-1/lib/runtime/lib/modules")" = \
  "$(stat -c %i "$R/versions/1.1-1/lib/runtime/lib/modules")" ] || fail "apply copied the unchanged runtime"
[ "$(cat "$R/versions/1.1-1/lib/app/data.txt")" = "data 1.1-1" ] || fail "apply: data.txt is not 1.1-1's"
[ "$(stat -c %Y "$R/versions/1.1-1/lib/app/data.txt")" = "$(stat -c %Y "$(tree_of 1.1-1)/lib/app/data.txt")" ] ||
  fail "apply did not set the file's time"
[ ! -e "$R/versions/.downloads" ] || fail "apply left its downloads"
jsa=lib/runtime/lib/server/classes.jsa
[ ! -e "$(tree_of 1.0-1)/$jsa" ] || [ -s "$R/versions/1.1-1/$jsa" ] || fail "apply did not remake $jsa"
app restart
[ "$out" = "version 1.1-1 TARBALL" ] || fail "restart: the app started again as '$out'"
no_leftovers apply
app check
[ "$out" = "no update" ] || fail "check after the update: $out"
app rollback
[ "$out" = "rolled back to 1.0-1" ] || fail "rollback: $out"
expect_version 1.0-1 "after rollback"
app rollback
[[ "$out" =~ "no version of $name before 1.0-1" ]] || fail "a second rollback: $out"
expect_version 1.0-1 "after a second rollback"
ln -s "../versions/1.1-1/bin/$name" "$R/bin/.$name.new" && mv -T "$R/bin/.$name.new" "$R/bin/$name"
expect_version 1.1-1 "after the documented rollback command"
ok "check, apply, rollback"

# --- Faults that change nothing: NAME | SETUP | MESSAGE (regex) | ARGS of the app
body_of() { tail -n +2 "$work/latest.good"; }
resign() {  # KEY SED-SCRIPT [MANIFEST]: latest = MANIFEST's body (the good one) changed by SED-SCRIPT, signed with KEY
  tail -n +2 "${3:-$work/latest.good}" | sed -e "$2" >"$work/body"
  openssl pkeyutl -sign -rawin -inkey "$1" -in "$work/body" -out "$work/sig"
  { echo "vorlane-update-signature ed25519 $(base64 -w0 "$work/sig")"; cat "$work/body"; } >"$feed/latest"
}
data_hash() { sed -n 's/^file [0-9]* [0-9]* \([0-9a-f]*\) .* lib\/app\/data.txt$/\1/p' "$work/latest.good"; }
swap_object() {  # other bytes at data.txt's object
  local h
  h="$(data_hash)"
  cp "$work/www/site/files/sha256/${h:0:2}/${h:2}" "$work/object.good"
  echo "data 6.6-6" | gzip -9n >"$work/www/site/files/sha256/${h:0:2}/${h:2}"
}
unswap_object() { local h; h="$(data_hash)"; cp "$work/object.good" "$work/www/site/files/sha256/${h:0:2}/${h:2}"; }
site_down() {
  local closed
  closed="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
  url="http://127.0.0.1:$closed/site" record "$R/versions/1.0-1" 1.0-1 tarball
}
unstartable() {  # the probe's jar swapped for data.txt's bytes, signed: a version that cannot start
  set -- $(grep ' lib/app/data.txt$' "$work/latest.good" | cut -d' ' -f3,4,6)
  resign "$key/feed-key.pem" \
    "s|^file \\([0-9]*\\) [0-9]* [0-9a-f]* \\([0-9]*\\) [0-9]* lib/app/update-probe.jar\$|file \\1 $1 $2 \\2 $3 lib/app/update-probe.jar|"
  grep -q " $2 .* lib/app/update-probe.jar\$" "$feed/latest" || fail "unstartable: the jar's line was not swapped"
}
as_deb() { R="$work/inst/deb/$name"; mkdir -p "$R"; cp -al "$(tree_of 1.0-1)/." "$R"; record "$R" 1.0-1 deb; }
# An older version published again: its manifest signed anew, with today's date.
republished_1_0() { resign "$key/feed-key.pem" "s/^date .*/date $(date -u +%Y-%m-%dT%H:%M:%SZ)/" "$feed/1.0-1"; }
tamper() { { head -1 "$work/latest.good"; body_of | sed 's/^version 1.1-1/version 1.1-2/'; } >"$feed/latest"; }
faults=(
  "tampered manifest#tamper#signature does not match"
  "signed with another key#resign \"\$work/other-key.pem\" ''#signature does not match"
  "a path with ..#resign \"\$key/feed-key.pem\" 's|lib/app/data.txt\$|lib/../../data.txt|'#bad path"
  "an unknown line#resign \"\$key/feed-key.pem\" '\$a frob x'#does not know"
  "another architecture#resign \"\$key/feed-key.pem\" 's/^arch .*/arch s390x/'#is for updapp stable s390x"
  "a version that does not parse#resign \"\$key/feed-key.pem\" 's/^version .*/version x1.1/'#does not parse"
  "a file whose hash differs#swap_object#does not match its hash"
  "a version that does not start#unstartable#does not start"
  "server error#cue error#HTTP 500"
  "server stalls#cue stall#did not answer in time"
  "a server that trickles#cue slowloris#did not answer in time"
  "server down#site_down#cannot be reached"
  "a file: site#url=\"file://\$work/www/site\" record \"\$R/versions/1.0-1\" 1.0-1 tarball#only http and https"
  "a feed older than the install#resign \"\$key/feed-key.pem\" 's/^date .*/date 2000-01-01T00:00:00Z/'#older than this install.*2000-01-01T00:00:00Z.*installed 1.0-1"
  "an expired feed#resign \"\$key/feed-key.pem\" 's/^date .*/date 2000-01-01T00:00:00Z/; s/^expires .*/expires 2000-01-31T00:00:00Z/'#feed is stale: it expired on 2000-01-31T00:00:00Z"
  "a downgrade#republished_1_0; install 1.1-1#^no update\$"
  "a deb install#as_deb#(sudo apt install --only-upgrade|pkcon update) updapp"
)
for row in "${faults[@]}"; do
  IFS='#' read -r what setup message <<<"$row"
  install
  eval "$setup"
  app
  started="$out"
  before="$(listing)"
  app apply
  [[ "$out" =~ $message ]] || fail "$what: the app says '$out', not /$message/"
  [ "$(listing)" = "$before" ] || fail "$what: the install changed: $(diff <(echo "$before") <(listing) | head -5)"
  [ "$what" != "a deb install" ] || [ ! -e "$R/versions" ] || fail "$what: the updater wrote into the tree"
  app
  [ "$out" = "$started" ] || fail "$what: afterwards the app starts as '$out', not '$started'"
  [ "$what" != "a file whose hash differs" ] || unswap_object
  restore_site
  ok "refused: $what"
done
url="http://127.0.0.1:$port/site"

# --- A cancel at a step changes nothing
for step in download build check; do
  install
  before="$(listing)"
  app apply --cancel-at "$step"
  [[ "$out" =~ cancelled ]] || fail "cancel at $step: the app says '$out'"
  [ "$(listing)" = "$before" ] || fail "cancel at $step: the install changed"
  ok "cancel at $step"
done

# --- Links planted in versions/ by whoever owns the install: NAME | SETUP | MESSAGE | CHECK
victim="$work/victim"
links=(
  "a .part link#mkdir -p \"\$R/versions/.downloads\"; ln -s \"\$victim\" \"\$R/versions/.downloads/\$(data_hash).part\"#target was not touched.*applied 1.1-1\$#[ \"\$(cat \"\$victim\")\" = precious ]"
  "a .lock link#ln -s \"\$victim.new\" \"\$R/versions/.lock\"#versions/.lock is a symbolic link#[ ! -e \"\$victim.new\" ]"
  "a .downloads link#mkdir -p \"\$victim.d\"; ln -s \"\$victim.d\" \"\$R/versions/.downloads\"#target was not touched.*applied 1.1-1\$#[ -z \"\$(ls -A \"\$victim.d\")\" ]"
)
for row in "${links[@]}"; do
  IFS='#' read -r what setup message check <<<"$row"
  install
  rm -rf "$victim" "$victim.new" "$victim.d"
  echo precious >"$victim"
  eval "$setup"
  app apply
  [[ "$out" =~ $message ]] || fail "$what: the app says '$out', not /$message/"
  eval "$check" || fail "$what: the link's target was written to"
  ok "planted: $what"
done

# --- Modes: what the manifest makes group- or other-writable, under a umask of 0, is not
install
resign "$key/feed-key.pem" 's|^dir 0755 lib/app$|dir 0777 lib/app|; s|^file 0644 \(.* lib/app/data.txt\)$|file 0666 \1|'
grep -q '^dir 0777 lib/app$' "$feed/latest" && grep -q '^file 0666 .* lib/app/data.txt$' "$feed/latest" ||
  fail "modes: the manifest's lines were not changed"
status=0
out="$(umask 0 && UPDPROBE_TIMEOUT=5 timeout 300 "$R/bin/$name" apply 2>&1)" || status=$?
[ "$out" = "applied 1.1-1" ] || fail "modes: apply says '$out'"
writable="$(cd "$R" && find . ! -type l -perm /022 | head -5)"
[ -z "$writable" ] || fail "modes: writable by group or others: $writable"
restore_site
ok "modes"

# --- A downgrade when asked for
install 1.1-1
republished_1_0
app apply --downgrade
[ "$out" = "applied 1.0-1" ] || fail "apply --downgrade: $out"
expect_version 1.0-1 "after a downgrade asked for"
restore_site

# --- A drop mid-file, then the next apply goes on with a Range request
install
before="$(listing)"
cue drop
app apply
[[ "$out" =~ dropped|Could\ not\ fetch ]] || fail "drop: the app says '$out'"
[ "$(listing)" = "$before" ] || fail "drop: the install changed"
ls "$R/versions/.downloads/"*.part >/dev/null 2>&1 || fail "drop: nothing was kept to resume from"
cue normal
: >"$work/server.log"
app apply
[ "$out" = "applied 1.1-1" ] || fail "apply after a drop: $out"
grep -q '^GET /site/files/.* bytes=[1-9][0-9]*- ' "$work/server.log" || fail "the apply after a drop did not resume"
# A server that ignores ranges: the file starts again.
install
cue drop
app apply
cue norange
app apply
[ "$out" = "applied 1.1-1" ] || fail "apply from a server without ranges: $out"
expect_version 1.1-1 "after a server without ranges"
# A server that answers another range than asked for: the part goes, the file starts again.
install
cue drop
app apply
cue badrange
app apply
[ "$out" = "applied 1.1-1" ] || fail "apply from a server that answers another range: $out"
restore_site
ok "drop mid-file, then resume"

# --- SIGKILL at every step: a whole version starts, the next apply completes
for step in download downloaded build built check switch switched; do
  install
  start_app apply --pause-at "$step" "$work/marker"
  wait_line "^paused at $step\$" || fail "kill at $step: the app never reached it"
  end_app KILL
  app
  case "$step" in
    switched) [ "$out" = "version 1.1-1 TARBALL" ] || fail "kill at $step: starts as '$out'" ;;
    *) [ "$out" = "version 1.0-1 TARBALL" ] || fail "kill at $step: starts as '$out'" ;;
  esac
  app apply
  [[ "$out" =~ ^(applied\ 1\.1-1|no\ update)$ ]] || fail "apply after a kill at $step: $out"
  expect_version 1.1-1 "apply after a kill at $step"
  no_leftovers "apply after a kill at $step"
  ok "SIGKILL at $step"
done

# --- Two applies at once: one wins, the other says so
install
start_app apply --pause-at build
wait_line '^paused at build$' || fail "concurrent: the first apply never reached build"
before="$(listing)"
app apply
[[ "$out" =~ "Another update of this install is running" ]] || fail "concurrent: the second apply says '$out'"
[ "$(listing)" = "$before" ] || fail "concurrent: the second apply changed the install"
exec 6>&-
wait_line '^applied 1.1-1$' || fail "concurrent: the first apply did not complete"
end_app none
expect_version 1.1-1 "the first of two applies"
ok "two applies at once"

# --- A running instance keeps running on its version
install
start_app wait
wait_line '^running 1.0-1$' || fail "running instance: it did not start"
app apply
[ "$out" = "applied 1.1-1" ] || fail "apply beside a running instance: $out"
# A second apply keeps the version the instance runs, though it is neither the new one nor the one before.
cp "$feed/1.2-1" "$feed/latest"
app apply
[ "$out" = "applied 1.2-1" ] || fail "a second apply beside a running instance: $out"
[ -d "$R/versions/1.0-1" ] || fail "the second apply removed the version a running instance runs"
exec 6>&-
wait_line '^still running 1.0-1 data 1.0-1$' || fail "the instance started before the switch did not go on"
end_app none
# Once nothing runs it, it goes at the next apply.
app rollback
[ "$out" = "rolled back to 1.1-1" ] || fail "rollback from 1.2-1: $out"
app apply
[ "$out" = "applied 1.2-1" ] || fail "apply once the instance ended: $out"
[ ! -e "$R/versions/1.0-1" ] || fail "1.0-1 stayed once nothing ran it"
restore_site
ok "a running instance keeps running"

# --- The disk fills up during an apply
mkdir -p "$work/small"
install
size_k=$(($(du -sk "$R" | cut -f1) + 3000))
if mount -t tmpfs -o "size=${size_k}k" tmpfs "$work/small" 2>"$work/mount.err"; then
  mounted="$work/small"
  cp -a "$R" "$work/small/"
  R="$work/small/$name"
  cp "$feed/1.2-1" "$feed/latest"
  before="$(listing)"
  app apply
  [[ "$out" =~ "not enough disk space" ]] || fail "disk full: the app says '$out'"
  [ "$(listing)" = "$before" ] || fail "disk full: the install changed"
  ! ls "$R/versions/.downloads/"*.part >/dev/null 2>&1 || fail "disk full: a partial file keeps the disk full"
  expect_version 1.0-1 "after a full disk"
  restore_site
  umount "$mounted" && mounted=""
  ok "disk full"
else
  echo "not checked: a full disk (cannot mount a tmpfs here: $(cat "$work/mount.err"))" >&2
fi

[ "$failures" -eq 0 ] || { echo "$failures failures" >&2; exit 1; }
echo "all update checks passed" >&2
