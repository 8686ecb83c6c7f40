#!/usr/bin/env bash
# vorlane-pack publish end to end, against the real clients: a site of a
# tiny app's packages (version 1, then 2, amd64 and arm64) served on
# loopback with python3's http.server;
#   - apt in a copy of the cached minimal Debian 12 (a chroot: needs root)
#     updates with no signature warnings, installs 1, upgrades to 2, which
#     starts from /usr/bin; refuses a site signed with another key and a
#     tampered Packages file;
#   - dnf, with gpgcheck and repo_gpgcheck, sees both versions and refuses
#     a tampered repomd.xml; rpm -K passes on the published .rpm;
#   - apt for arm64, in a scratch state folder, verifies the arm64 index
#     and downloads the arm64 package;
#   - --keep bounds the indexes; the same package again changes nothing;
#     other bytes under a published version are refused with status 2;
#   - headless chromium renders the download page (--dump-dom, --screenshot).
# Parts whose tool (or root) is missing print "not checked: ..."; with no
# tools at all the test prints "skipped: ...".
#
#   publish_e2e.sh PREFIX [KEEP-DIR]   (PREFIX: where the project is installed;
#                                       KEEP-DIR: where to copy the screenshot and client output)
set -euo pipefail
prefix="$(cd "$1" && pwd)"
keep_dir="${2:-}"
pack="$prefix/bin/vorlane-pack"
for tool in apt-ftparchive createrepo_c gpg python3 javac curl; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is missing (scripts/install-deps)"; exit 0; }
done
work="$(mktemp -d)"
server=""
mounts=()
cleanup() {
  local m
  [ -z "$server" ] || { kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; }
  for m in "${mounts[@]}"; do umount "$m" 2>/dev/null || umount -l "$m" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAILED: $*" >&2; failures=$((failures + 1)); }
ok() { echo "ok: $*" >&2; }
log() {  # NAME: keeps standard input as the client output NAME, and shows it
  tee "$work/$1.log" >&2
  [ -z "$keep_dir" ] || cp "$work/$1.log" "$keep_dir/$1.log"
}
[ -z "$keep_dir" ] || mkdir -p "$keep_dir"

# --- Packages: a tiny app, versions 1 and 2; a hand-made arm64 .deb and .rpm
mkdir -p "$work/src/tiny" "$work/jars"
cat >"$work/src/tiny/Main.java" <<'EOF'
package tiny;
public class Main {
  public static void main(String[] args) { System.out.println("tiny says hello"); }
}
EOF
# The server and the site's key come first: the packages follow the site.
site="$work/www/site"
key="$work/key"
mkdir -p "$work/www"
port="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
python3 -m http.server --bind 127.0.0.1 "$port" --directory "$work/www" >"$work/http.log" 2>&1 &
server=$!
url="http://127.0.0.1:$port/site"
"$pack" publish --new-key "$key" 2>"$work/new-key.txt"
grep -q "back it up" "$work/new-key.txt" || fail "--new-key does not say to back up the key"
javac -d "$work/classes" "$work/src/tiny/Main.java"
(cd "$work/classes" && jar cf "$work/jars/tiny.jar" tiny)
"$pack" app --quiet --name tinyapp --input "$work/jars" --main-class tiny.Main --dest "$work/app" \
  --template "$prefix/lib/vorlane/launcher"
for v in 1 2; do
  types=deb,rpm
  [ "$v" -eq 1 ] || types+=,tar.gz
  "$pack" package --quiet --compression fast --type "$types" "$work/app/tinyapp" --dest "$work/v$v" --app-version "$v.0" \
    --maintainer 'Ann Example <ann@example.org>' --description 'A tiny app' \
    --long-description 'Says hello, then ends.' --update-site "$url" --update-key "$key/KEY.asc"
done
host_deb_arch="$(dpkg --print-architecture)"
other_arch=arm64
[ "$host_deb_arch" = amd64 ] || other_arch=amd64
mkdir -p "$work/other/d/DEBIAN" "$work/other/d/opt/tinyapp"
echo "a stand-in for the $other_arch tree" >"$work/other/d/opt/tinyapp/README"
printf 'Package: tinyapp\nVersion: 2.0-1\nArchitecture: %s\nDepends: libc6 (>= 2.17)\nMaintainer: Ann Example <ann@example.org>\nDescription: A tiny app\n For %s.\n' \
  "$other_arch" "$other_arch" >"$work/other/d/DEBIAN/control"
dpkg-deb --root-owner-group -b "$work/other/d" "$work/other/tinyapp_2.0-1_$other_arch.deb" >/dev/null

publish() { "$pack" publish --quiet "$@"; }

# --- Refusals before anything exists: status 2, nothing written ------------
refuse() {  # WHAT MESSAGE ARGS...
  local what="$1" message="$2" status=0 out
  shift 2
  out="$("$pack" publish "$@" 2>&1)" || status=$?
  if [ "$status" -ne 2 ]; then fail "$what: status $status, not 2 ($out)"; return; fi
  grep -qF -- "$message" <<<"$out" || fail "$what: message '$out' lacks '$message'"
}
deb1="$(echo "$work"/v1/*.deb)"
deb2="$(echo "$work"/v2/*.deb)"
rpm1="$(echo "$work"/v1/*.rpm)"
rpm2="$(echo "$work"/v2/*.rpm)"
tar2="$(echo "$work"/v2/*.tar.gz)"
refuse "no key" "give --signing-key" "$site" "$deb1" --base-url http://127.0.0.1/x
refuse "no base URL" "needs --base-url" "$site" "$deb1" --new-key "$work/unused-key"
[ ! -e "$work/unused-key" ] || fail "a refused first publish made a key"
[ ! -e "$site" ] || fail "a refused publish made the site"

# --- Version 1; the same again is a no-op; other bytes are refused ---------
publish "$site" "$deb1" "$rpm1" --base-url "http://127.0.0.1:0/site" --signing-key "$key/signing-key.asc"
stamp() { find "$site" -type f -newer "$work/stamp" | grep -v '\.vorlane-site\.lock$' || true; }
touch "$work/stamp"
publish "$site" "$deb1" "$rpm1" --signing-key "$key/signing-key.asc"
[ -z "$(stamp)" ] || fail "publishing the same packages again rewrote: $(stamp)"
dpkg-deb -R "$deb1" "$work/changed"
echo "another line" >>"$work/changed/usr/share/doc/tinyapp/copyright"
dpkg-deb --root-owner-group -b "$work/changed" "$work/changed.deb" >/dev/null
refuse "other bytes, same version" "published already with other bytes" "$site" "$work/changed.deb" \
  --signing-key "$key/signing-key.asc"
mkdir -p "$work/k2"
publish --new-key "$work/k2/key" 2>/dev/null
refuse "another key" "is signed with the key" "$site" "$deb2" --signing-key "$work/k2/key/signing-key.asc"
[ -z "$(stamp)" ] || fail "a refused publish wrote: $(stamp)"
ok "refusals: status 2, nothing written"

# A publish that fails half way (here the dnf index tool) leaves the site as it was.
listing() { (cd "$site" && find . -path ./.vorlane-site.lock -prune -o -type f -print0 | sort -z | xargs -0 sha256sum); }
before="$(listing)"
mkdir -p "$work/failing"
printf '#!/bin/sh\necho "createrepo_c: no space left" >&2\nexit 1\n' >"$work/failing/createrepo_c"
chmod +x "$work/failing/createrepo_c"
status=0
PATH="$work/failing:$PATH" "$pack" publish --quiet "$site" "$deb2" "$rpm2" \
  --signing-key "$key/signing-key.asc" 2>"$work/out" || status=$?
[ "$status" -eq 1 ] || fail "a publish whose tool fails ends with $status, not 1: $(cat "$work/out")"
[ "$(listing)" = "$before" ] || fail "a failed publish changed the site: $(diff <(echo "$before") <(listing))"
[ -z "$(find "$site" -maxdepth 1 -name '.vorlane-next*')" ] || fail "a failed publish left its scratch folder"
ok "a publish that fails half way leaves the site as it was"

# --- The server ----------------------------------------------------------------
curl -fsS --retry-connrefused --retry 30 --retry-delay 1 --max-time 10 -o /dev/null "$url/KEY.asc" ||
  { fail "the server on port $port did not answer"; exit 1; }
# The site's address as served, recorded for the page (the key stays the same).
publish "$site" "$deb1" --base-url "$url" --signing-key "$key/signing-key.asc"

# A site signed with another key, and one whose Packages is tampered with.
publish "$work/www/other-key" "$deb1" --base-url "http://127.0.0.1:$port/other-key" \
  --signing-key "$work/k2/key/signing-key.asc"
cp -a "$site" "$work/www/tampered"
# Every copy of the Packages file is changed (by-hash/SHA256 and SHA512
# too); the compressed ones are removed, so apt must take a changed one.
for f in "$work"/www/tampered/dists/stable/main/binary-"$host_deb_arch"/{Packages*,by-hash/*/*}; do
  if gzip -t "$f" 2>/dev/null || xz -t "$f" 2>/dev/null; then
    rm -f "$f"
  else
    sed -i 's/^Description: .*/Description: not what was signed/' "$f"
  fi
done
grep -q 'not what was signed' "$work/www/tampered/dists/stable/main/binary-$host_deb_arch/Packages" ||
  fail "the tampered Packages file is not tampered"

# --- apt in a minimal Debian 12 ----------------------------------------------
base="${VORLANE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/vorlane}/bookworm-minbase"
if [ "$(id -u)" -ne 0 ]; then
  echo "note: not checked: apt in a minimal Debian (needs root for chroot)" >&2
elif [ ! -f "$base/.complete" ]; then
  echo "note: not checked: apt in a minimal Debian (no $base; scripts/check-packages makes it)" >&2
else
  # The cached root stays pristine under an overlay; the writes go to the test's folder.
  root="$work/debian"
  mkdir -p "$root" "$work/upper" "$work/overlay-work"
  mount -t overlay overlay -o "lowerdir=$base,upperdir=$work/upper,workdir=$work/overlay-work" "$root"
  mounts=("$root")
  for m in proc dev; do
    mount --bind "/$m" "$root/$m"
    mounts=("$root/$m" "${mounts[@]}")
  done
  in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive "$@"; }
  # Only the site: the test needs no network.
  rm -f "$root/etc/apt/sources.list" "$root"/etc/apt/sources.list.d/*
  sources() {  # PATH-ON-SERVER
    printf 'Types: deb\nURIs: http://127.0.0.1:%s/%s\nSuites: stable\nComponents: main\nSigned-By: /usr/share/keyrings/tinyapp-archive-keyring.gpg\n' \
      "$port" "$1" >"$root/etc/apt/sources.list.d/tinyapp.sources"
  }
  update() {  # LOG: apt-get update; its status
    local status=0
    in_root timeout 300 apt-get update >"$work/out" 2>&1 || status=$?
    log "$1" <"$work/out"
    return "$status"
  }
  ours="$root/etc/apt/sources.list.d/tinyapp.sources"
  keyring="$root/usr/share/keyrings/tinyapp-archive-keyring.gpg"
  cp "$deb1" "$deb2" "$root/tmp/"
  in_root dpkg -i "/tmp/$(basename "$deb1")" 2>&1 | log dpkg-install-v1 || fail "dpkg -i version 1"
  if grep -qx "URIs: $url" "$ours" 2>/dev/null && grep -qx 'Signed-By: /usr/share/keyrings/tinyapp-archive-keyring.gpg' "$ours" &&
     [ "$(stat -c %a "$keyring" 2>/dev/null)" = 644 ] && cmp -s "$keyring" "$key/KEY.gpg"; then
    ok "the .deb's postinst adds the site's source and keyring"
  else
    fail "the .deb's postinst did not add the site's source and keyring"
  fi
  if update apt-update-v1 && ! grep -qiE '^W:|^E:|GPG|signature|NO_PUBKEY' "$work/apt-update-v1.log"; then
    ok "apt-get update against the site: no warnings"
  else
    fail "apt-get update against the site"
  fi
  # shellcheck disable=SC2016 # dpkg-query's own ${Version}
  [ "$(in_root dpkg-query -W -f='${Version}' tinyapp)" = 1.0-1 ] || fail "version 1 is not installed"

  publish "$site" "$deb2" "$rpm2" "$tar2" "$work/other/tinyapp_2.0-1_$other_arch.deb" \
    --signing-key "$key/signing-key.asc"
  update apt-update-v2 || fail "apt-get update after version 2"
  in_root timeout 300 apt-get install -y --only-upgrade tinyapp 2>&1 | log apt-upgrade || fail "apt-get install --only-upgrade"
  # shellcheck disable=SC2016
  if [ "$(in_root dpkg-query -W -f='${Version}' tinyapp)" = 2.0-1 ]; then ok "apt upgraded to 2.0-1"; else fail "apt did not upgrade to 2.0-1"; fi
  starts() { [ "$(in_root timeout 120 /usr/bin/tinyapp)" = "tiny says hello" ]; }
  if starts; then ok "/usr/bin/tinyapp starts"; else fail "/usr/bin/tinyapp does not start"; fi

  sources other-key
  if update apt-other-key; then fail "apt-get update took a site signed with another key"; fi
  grep -qE 'NO_PUBKEY|not signed|signatures were invalid|could not be verified' "$work/apt-other-key.log" ||
    fail "apt's refusal of the other key does not name the signature"
  sources tampered
  status=0
  update apt-tampered || status=$?
  if [ "$status" -eq 0 ] && ! grep -qiE 'Hash Sum mismatch|unexpected size|mismatch' "$work/apt-tampered.log"; then
    fail "apt-get update took a tampered Packages file"
  else
    ok "apt refuses another key and a tampered Packages file"
  fi
  starts || fail "version 2 no longer starts after the refused updates"

  # Remove keeps the source and keyring, purge takes them and all of the app.
  in_root dpkg -r tinyapp >/dev/null 2>&1 || fail "dpkg -r tinyapp"
  if [ ! -e "$ours" ] || [ ! -e "$keyring" ]; then fail "dpkg -r took the site's source or keyring"; fi
  in_root dpkg --purge tinyapp >/dev/null 2>&1 || fail "dpkg --purge tinyapp"
  if [ ! -e "$ours" ] && [ ! -e "$keyring" ] && [ ! -e "$root/opt/tinyapp" ] && [ ! -L "$root/usr/bin/tinyapp" ]; then
    ok "purge leaves no source, no keyring and nothing of the app"
  else
    fail "purge left something behind"
  fi
  # The administrator's say: an opt-out before the install, one after it, a source of their own.
  subscribed() {  # DEB
    in_root dpkg -i "/tmp/$1" >/dev/null 2>&1 || fail "dpkg -i $1"
    [ -e "$ours" ]
  }
  echo 'repo_add_once=false' >"$root/etc/default/tinyapp"
  if subscribed "$(basename "$deb1")"; then fail "the opt-out before the install was not heeded"; fi
  rm "$root/etc/default/tinyapp"
  subscribed "$(basename "$deb1")" || fail "without the opt-out the source is not added"
  echo 'repo_add_once="false"' >"$root/etc/default/tinyapp"
  if subscribed "$(basename "$deb2")"; then fail "the opt-out after the install was not heeded on upgrade"; fi
  in_root dpkg --purge tinyapp >/dev/null 2>&1
  rm -f "$root/etc/default/tinyapp"
  echo "deb [signed-by=/usr/share/keyrings/mine.gpg] $url stable main" >"$root/etc/apt/sources.list.d/mine.list"
  if subscribed "$(basename "$deb1")"; then fail "a source of the administrator's for the site was doubled"; fi
  grep -qF "$url" "$root/etc/apt/sources.list.d/mine.list" || fail "the administrator's source was changed"
  in_root dpkg --purge tinyapp >/dev/null 2>&1
  ok "the opt-out before and after the install, and the administrator's own source, are heeded"
fi
if [ ! -f "$site/pool/main/t/tinyapp/tinyapp_2.0-1_$host_deb_arch.deb" ]; then
  publish "$site" "$deb2" "$rpm2" "$tar2" "$work/other/tinyapp_2.0-1_$other_arch.deb" \
    --signing-key "$key/signing-key.asc"
fi

# --- dnf and rpm -K ------------------------------------------------------------
rpmdb="$work/rpmdb"
mkdir -p "$rpmdb"
rpm --dbpath "$rpmdb" --import "$site/KEY.asc"
for f in "$site"/rpm/stable/Packages/*.rpm; do
  rpm --dbpath "$rpmdb" -K "$f" | log rpm-K
  grep -q 'signatures OK' "$work/rpm-K.log" || fail "rpm -K $(basename "$f")"
done
if command -v dnf >/dev/null; then
  dnf_query() {  # REPO-URL NAME: repoquery with both checks on, in a scratch root and cache
    local dir="$work/dnf-$2"
    mkdir -p "$dir/root" "$dir/cache"
    timeout 300 dnf -y -q --installroot="$dir/root" --setopt=cachedir="$dir/cache" --setopt=reposdir="$dir/none" \
      --releasever=1 --repofrompath="tiny,$1" --setopt=tiny.gpgcheck=1 --setopt=tiny.repo_gpgcheck=1 \
      --setopt=tiny.gpgkey="$url/KEY.asc" --setopt=tiny.skip_if_unavailable=False repoquery --showduplicates tinyapp
  }
  # The repository file and key the .rpm ships, with the key's path moved to where they were unpacked.
  own="$work/rpm-own"
  mkdir -p "$own/repos"
  (cd "$own" && rpm2cpio "$rpm1" | cpio -idm --quiet ./etc/yum.repos.d/tinyapp.repo ./etc/pki/rpm-gpg/RPM-GPG-KEY-tinyapp)
  if ! grep -qx "baseurl=$url/rpm/stable" "$own/etc/yum.repos.d/tinyapp.repo" ||
     ! grep -qx 'repo_gpgcheck=1' "$own/etc/yum.repos.d/tinyapp.repo"; then
    fail "the .rpm's repository file"
  fi
  sed "s|file:///etc/pki|file://$own/etc/pki|" "$own/etc/yum.repos.d/tinyapp.repo" >"$own/repos/tinyapp.repo"
  if timeout 300 dnf -y -q --installroot="$work/dnf-own/root" --setopt=cachedir="$work/dnf-own/cache" \
       --setopt=reposdir="$own/repos" --releasever=1 --setopt=tinyapp.skip_if_unavailable=False \
       repoquery --showduplicates tinyapp 2>&1 | log dnf-repoquery &&
     grep -q 'tinyapp-0:1.0-1' "$work/dnf-repoquery.log" && grep -q 'tinyapp-0:2.0-1' "$work/dnf-repoquery.log"; then
    ok "dnf sees versions 1 and 2 with gpgcheck and repo_gpgcheck"
  else
    fail "dnf does not see versions 1 and 2"
  fi
  cp -a "$site/rpm" "$work/www/rpm-tampered"
  sed -i 's|<revision>|<revision>1|' "$work/www/rpm-tampered/stable/repodata/repomd.xml"
  if dnf_query "http://127.0.0.1:$port/rpm-tampered/stable" tampered >"$work/out" 2>&1 ||
     grep -q 'tinyapp-0:' "$work/out"; then
    log dnf-tampered <"$work/out"
    fail "dnf took a tampered repomd.xml"
  else
    log dnf-tampered <"$work/out"
    ok "dnf refuses a tampered repomd.xml"
  fi
else
  echo "note: not checked: dnf (Debian package dnf)" >&2
fi

# --- apt for the other architecture, in a scratch state folder -------------------
a="$work/apt-$other_arch"
mkdir -p "$a/state/lists/partial" "$a/cache/archives/partial" "$a/sources.d" "$a/down"
touch "$a/state/status"
printf 'Types: deb\nURIs: %s\nSuites: stable\nComponents: main\nSigned-By: %s\n' "$url" "$site/KEY.gpg" \
  >"$a/sources.d/tinyapp.sources"
apt_other() {
  timeout 300 apt-get -o APT::Architecture="$other_arch" -o APT::Architectures="$other_arch" \
    -o Dir::State="$a/state" -o Dir::State::status="$a/state/status" -o Dir::Cache="$a/cache" \
    -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$a/sources.d" \
    -o APT::Sandbox::User=root "$@"
}
if apt_other update 2>&1 | log "apt-update-$other_arch" &&
   ! grep -qE '^W:|^E:' "$work/apt-update-$other_arch.log" &&
   (cd "$a/down" && apt_other download tinyapp 2>&1 | log "apt-download-$other_arch") &&
   [ -s "$a/down/tinyapp_2.0-1_$other_arch.deb" ]; then
  ok "apt for $other_arch verifies its index and downloads its package"
else
  fail "apt for $other_arch"
fi

# --- --keep bounds the indexes ---------------------------------------------------
small="$work/www/keep"
for v in 1 2 3 4; do
  sed -i "s/^Version: .*/Version: $v.0-1/" "$work/other/d/DEBIAN/control"
  dpkg-deb --root-owner-group -b "$work/other/d" "$work/other/k$v.deb" >/dev/null
  publish "$small" "$work/other/k$v.deb" --base-url "$url" --keep 2 --signing-key "$key/signing-key.asc"
done
listed="$(grep -c '^Package: ' "$small/dists/stable/main/binary-$other_arch/Packages")"
versions="$(sed -n 's/^Version: //p' "$small/dists/stable/main/binary-$other_arch/Packages" | sort | tr '\n' ' ')"
if [ "$listed" -ne 2 ] || [ "$versions" != "3.0-1 4.0-1 " ]; then fail "--keep 2 lists $listed: $versions"; fi
[ "$(find "$small/pool" -name '*.deb' | wc -l)" -eq 4 ] || fail "--keep removed a published file"
hashes="$(find "$small/dists/stable/main/binary-$other_arch/by-hash/SHA256" -type f | wc -l)"
[ "$hashes" -le 6 ] || fail "by-hash keeps $hashes files: more than two generations"
# A file an interrupted publish left in the pool, unlisted: kept and used when
# it is the same package, refused (and left alone) when it is another.
sed -i "s/^Version: .*/Version: 5.0-1/" "$work/other/d/DEBIAN/control"
dpkg-deb --root-owner-group -b "$work/other/d" "$work/other/k5.deb" >/dev/null
left="$small/pool/main/t/tinyapp/tinyapp_5.0-1_$other_arch.deb"
cp "$work/other/k4.deb" "$left"
status=0
"$pack" publish --quiet "$small" "$work/other/k5.deb" --signing-key "$key/signing-key.asc" 2>"$work/out" || status=$?
{ [ "$status" -eq 2 ] && grep -q 'unlisted' "$work/out" && cmp -s "$left" "$work/other/k4.deb"; } ||
  fail "an unlisted pool file with other bytes: status $status, $(cat "$work/out")"
cp "$work/other/k5.deb" "$left"
publish "$small" "$work/other/k5.deb" --signing-key "$key/signing-key.asc" ||
  fail "an unlisted pool file with the same bytes is not taken"
grep -q '^Version: 5.0-1' "$small/dists/stable/main/binary-$other_arch/Packages" || fail "version 5 is not listed"

# --- The download page in headless chromium --------------------------------------
# The page states the glibc floor the host's .deb declares (the stand-in asks for 2.17).
floor="$(dpkg-deb -f "$deb2" Depends | grep -o 'libc6 (>= [0-9.]*)' | grep -o '[0-9][0-9.]*')"
page_ok() {
  grep -q '<title>tinyapp 2.0-1</title>' "$1" && grep -q 'href="pool/main/t/tinyapp/' "$1" &&
    grep -qF "Runs on Linux with glibc $floor or later (Debian " "$1" &&
    grep -q 'href="rpm/stable/Packages/' "$1" && grep -q 'href="files/tinyapp-2.0-linux-' "$1" &&
    ! grep -qi '<script' "$site/index.html"
}
if command -v chromium >/dev/null; then
  browse() {
    timeout -k 10 120 chromium --headless --no-sandbox --disable-gpu --no-first-run \
      --disable-background-networking --disable-component-update --disable-sync \
      --user-data-dir="$(mktemp -d "$work/chromium.XXXXXX")" --window-size=390,844 "$@" "$url/index.html"
  }
  browse --dump-dom >"$work/dom.html" 2>"$work/chromium.err" || true
  browse --screenshot="$work/page.png" >/dev/null 2>>"$work/chromium.err" || true
  if page_ok "$work/dom.html" && [ -s "$work/page.png" ]; then
    ok "chromium renders the download page at phone width"
    [ -z "$keep_dir" ] || cp "$work/page.png" "$work/dom.html" "$keep_dir/"
  else
    tail -5 "$work/chromium.err" >&2
    fail "chromium: the page's title or downloads are missing, or no screenshot"
  fi
else
  echo "note: not checked: the page in chromium (Debian package chromium)" >&2
  page_ok "$site/index.html" || fail "the download page lacks its title or downloads"
fi

if [ "$failures" -ne 0 ]; then
  echo "publish_e2e: $failures check(s) failed" >&2
  exit 1
fi
echo "publish_e2e: all checks passed"
