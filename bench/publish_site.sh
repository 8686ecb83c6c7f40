#!/usr/bin/env bash
# The cost of a publish on a site with a history: VERSIONS versions (default
# 50) of a small stand-in app, each as a .deb and an .rpm for amd64 and
# arm64, published one by one with --keep KEEP (default 5); then the time of
# one more. Writes the table to RESULTS/publish-site.md: the time of each
# publish and the size of the indexes, which grow with --keep, not with the
# number of versions published.
#
#   bench/publish_site.sh PACKER     (VERSIONS=50 KEEP=5 RESULTS=bench/results)
set -euo pipefail
pack="$(readlink -f "$1")"
versions="${VERSIONS:-50}"
keep="${KEEP:-5}"
results="${RESULTS:-$(dirname "$0")/results}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

make_packages() {  # VERSION: the four packages of that version in $work/in/VERSION
  local v="$1" out="$work/in/$1" arch rpm_arch
  mkdir -p "$out"
  for arch in amd64 arm64; do
    rpm_arch=x86_64
    [ "$arch" = amd64 ] || rpm_arch=aarch64
    local d="$work/deb-$arch"
    mkdir -p "$d/DEBIAN" "$d/opt/benchapp"
    head -c 200000 /dev/urandom >"$d/opt/benchapp/payload"
    printf 'Package: benchapp\nVersion: %s-1\nArchitecture: %s\nMaintainer: Ann Example <ann@example.org>\nDescription: A stand-in app\n Version %s.\n' \
      "$v" "$arch" "$v" >"$d/DEBIAN/control"
    dpkg-deb --root-owner-group -b "$d" "$out/benchapp_$v-1_$arch.deb" >/dev/null
    rpmbuild -bb --quiet --target "$rpm_arch" --define "_topdir $work/rpm" --define "v $v" \
      --define "_rpmdir $out" --define "_build_name_fmt %%{NAME}-%%{VERSION}-%%{RELEASE}.%%{ARCH}.rpm" \
      "$work/benchapp.spec" >/dev/null 2>&1
  done
}
cat >"$work/benchapp.spec" <<'EOF'
Name: benchapp
Version: %{v}
Release: 1
Summary: A stand-in app
License: MIT
AutoReqProv: no
%global __os_install_post %{nil}
%description
A stand-in app.
%install
mkdir -p %{buildroot}/opt/benchapp
head -c 200000 /dev/urandom >%{buildroot}/opt/benchapp/payload
%files
/opt/benchapp
EOF

echo "making $((versions + 1)) versions x 2 architectures x (.deb, .rpm)" >&2
for v in $(seq 1 $((versions + 1))); do make_packages "$v.0"; done
"$pack" publish --new-key "$work/key" 2>/dev/null
site="$work/site"
table="| versions published | publish time (s) | Packages amd64 (entries, bytes) | repodata (files, bytes) | pool and rpm files |\n|---|---|---|---|---|\n"
for v in $(seq 1 $((versions + 1))); do
  started="$(date +%s.%N)"
  "$pack" publish --quiet "$site" "$work/in/$v.0"/* --base-url https://example.org/benchapp \
    --keep "$keep" --signing-key "$work/key/signing-key.asc"
  ended="$(date +%s.%N)"
  seconds="$(printf "%.2f" "$(echo "$ended - $started" | bc)")"
  if [ "$v" -eq 1 ] || [ "$v" -eq 5 ] || [ $((v % 10)) -eq 0 ] || [ "$v" -eq $((versions + 1)) ]; then
    packages="$site/dists/stable/main/binary-amd64/Packages"
    entries="$(grep -c '^Package: ' "$packages")"
    repodata_files="$(find "$site/rpm/stable/repodata" -type f | wc -l)"
    repodata_bytes="$(du -sb "$site/rpm/stable/repodata" | cut -f1)"
    files="$(find "$site/pool" "$site/rpm/stable/Packages" -type f | wc -l)"
    table+="| $v | $seconds | $entries, $(stat -c %s "$packages") | $repodata_files, $repodata_bytes | $files |\n"
    echo "publish $v: $seconds s" >&2
  fi
done
mkdir -p "$results"
{
  echo "# Publishing to a site with a history"
  echo
  echo "bench/publish_site.sh: $versions versions, then one more, of a stand-in app (a 200 kB"
  echo "payload), each a .deb and an .rpm for amd64 and arm64, published one by one with"
  echo "--keep $keep on $(nproc) cores ($(uname -m)), $(date -u +%Y-%m-%d). The last row is"
  echo "the publish of version $((versions + 1))."
  echo
  printf '%b' "$table"
} >"$results/publish-site.md"
cat "$results/publish-site.md"
