#!/usr/bin/env bash
# vorlane-pack package end to end, with the installed packer: a small app
# tree (the real launcher template, a stand-in runtime) packaged as .deb,
# .rpm and .tar.gz twice, from copies in different folders, must give the
# same bytes; the packages hold what they should; refusals exit with 2 and
# write nothing.
#
#   packages_e2e.sh PREFIX     (PREFIX: where the project is installed)
set -euo pipefail
prefix="$(cd "$1" && pwd)"
pack="$prefix/bin/vorlane-pack"
source_dir="$(cd "$(dirname "$0")/../.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAILED: $*" >&2; failures=$((failures + 1)); }

# A tree as `vorlane-pack app` lays it out; the runtime's libjvm.so is a
# stand-in ELF library of this machine (only its machine and NEEDED matter).
tree="$work/one/tiny"
mkdir -p "$tree/bin" "$tree/lib/app" "$tree/lib/runtime/lib/server"
"$pack" burn --output "$tree/bin/tiny" --template "$prefix/lib/vorlane/launcher" \
  --main-class tiny.Main --java-option '-Djava.class.path=&&/tiny.jar:&&/vorlane-launcher.jar'
cp "$prefix/lib/vorlane/vorlane-launcher.jar" "$tree/lib/app/tiny.jar"
cp "$prefix/lib/vorlane/vorlane-launcher.jar" "$tree/lib/app/"
cp "$(readlink -f "$(ldconfig -p | awk '/libz\.so\.1 .*x86-64|libz\.so\.1 .*AArch64/ {print $NF; exit}')")" \
  "$tree/lib/runtime/lib/server/libjvm.so"
printf 'name=tiny\n' >"$tree/lib/vorlane-app.conf"
mkdir -p "$work/two"
cp -a "$tree" "$work/two/tiny"

package() {  # TREE DEST [more options]
  local tree="$1" dest="$2"
  shift 2
  SOURCE_DATE_EPOCH=1700000000 "$pack" package --quiet --type deb --type rpm,tar.gz "$tree" \
    --dest "$dest" --app-version 1.2 --release 3 --maintainer 'Ann Example <ann@example.org>' \
    --description 'A tiny app' --icon "$source_dir/demo/swing/notes.svg" \
    --file-association "extension=tiny,mime-type=application/x-tiny,icon=$source_dir/demo/swing/notes/icon.png" \
    --package-deps 'default-jre-headless | java-runtime' "$@"
}

(cd "$work/one" && package tiny "$work/out1")
(cd "$work/two" && package "$work/two/tiny" "$work/out2")
for f in tiny_1.2-3_amd64.deb tiny-1.2-3.x86_64.rpm tiny-1.2-linux-x86_64.tar.gz; do
  case "$(uname -m)" in aarch64) f="${f//amd64/arm64}"; f="${f//x86_64/aarch64}" ;; esac
  [ -s "$work/out1/$f" ] || { fail "$f not made"; continue; }
  cmp -s "$work/out1/$f" "$work/out2/$f" || fail "$f differs between two builds"
  grep -q "$work" "$work/out1/$f" && fail "$f holds the build folder's path"
done
deb="$(echo "$work"/out1/*.deb)"
listing="$(dpkg-deb -c "$deb")"
for entry in './opt/tiny/bin/tiny' './usr/bin/tiny -> /opt/tiny/bin/tiny' \
             './usr/share/applications/app.tiny.desktop' './usr/share/icons/hicolor/48x48/apps/app.tiny.png' \
             './usr/share/icons/hicolor/scalable/apps/app.tiny.svg' \
             './usr/share/icons/hicolor/64x64/mimetypes/application-x-tiny.png' \
             './usr/share/metainfo/app.tiny.metainfo.xml' './usr/share/mime/packages/app.tiny.xml' \
             './usr/share/doc/tiny/copyright' './usr/share/doc/tiny/changelog.Debian.gz'; do
  grep -qF -- "$entry" <<<"$listing" || fail "the .deb has no $entry"
done
grep -q ' root/root ' <<<"$listing" || fail "the .deb's files are not root's"
depends="$(dpkg-deb -f "$deb" Depends)"
grep -q 'libc6 (>= ' <<<"$depends" || fail "Depends '$depends' lacks libc6"
grep -q 'default-jre-headless | java-runtime' <<<"$depends" || fail "Depends '$depends' lacks --package-deps"
mkdir "$work/x"
dpkg-deb -x "$deb" "$work/x"
grep -q '\.debug_info' <<<"$(readelf -S "$work/x/opt/tiny/bin/tiny")" && fail "the shipped launcher has debug information"
if grep -q '\.debug_info' <<<"$(readelf -S "$prefix/lib/vorlane/launcher")"; then
  [ -s "$work/out1/tiny_1.2-3_amd64.debug" ] || [ -s "$work/out1/tiny_1.2-3_arm64.debug" ] ||
    fail "no .debug file beside the packages"
fi
grep -q tiny.Main <<<"$("$pack" show "$work/x/opt/tiny/bin/tiny")" || fail "the stripped launcher lost its launch data"
grep -q '^StartupWMClass=tiny-Main$' "$work/x/usr/share/applications/app.tiny.desktop" ||
  fail "StartupWMClass is not the main class with dashes"
grep -q '^libc.so.6()(64bit)' <<<"$(rpm -qp --requires "$work"/out1/*.rpm 2>/dev/null)" || fail "the .rpm does not require libc.so.6"
grep -qx 'tiny/bin/tiny' <<<"$(tar -tzf "$work"/out1/*.tar.gz)" || fail "the .tar.gz has no tiny/bin/tiny"

# Refusals: status 2, nothing written.
refuse() {  # WHAT EXPECTED-MESSAGE COMMAND...
  local what="$1" message="$2" status=0
  shift 2
  rm -rf "$work/refused"
  "$@" >"$work/err" 2>&1 || status=$?
  [ "$status" -eq 2 ] || fail "$what: status $status, not 2"
  grep -q -- "$message" "$work/err" || fail "$what: no '$message' in: $(cat "$work/err")"
  [ ! -e "$work/refused" ] || fail "$what: wrote $work/refused"
}
echo 'not an image' >"$work/icon.png"
refuse "no dpkg-deb" "dpkg-deb" env PATH="$work/empty" "$pack" package --type deb "$tree" --dest "$work/refused" \
  --maintainer 'A <a@b.c>'
refuse "text as icon" "neither a PNG nor an SVG" package "$tree" "$work/refused" --icon "$work/icon.png"
refuse "bad version" "no valid Debian and RPM version" package "$tree" "$work/refused" --app-version 1.0-2
refuse "relative install dir" "not an absolute path" package "$tree" "$work/refused" --install-dir opt/tiny
refuse "no tree" "not an app tree" "$pack" package --type tar.gz "$work" --dest "$work/refused"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "packages_e2e: all checks passed"
