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

# Packages already in --dest are replaced, and the packer says so; a link
# to a folder in the tree stays a link.
ln -s app "$tree/lib/applink"
out="$(package "$tree" "$work/out1" 2>&1)" || fail "packaging again failed: $out"
grep -q "replaced the earlier .*tiny_1.2-3_.*\.deb" <<<"$out" || fail "no word of the replaced packages: $out"
grep -q '^tiny/lib/applink -> app$' <<<"$(tar -tvzf "$work"/out1/*.tar.gz | awk '{print $6, $7, $8}')" ||
  fail "the link to a folder is no link in the .tar.gz"
rm "$tree/lib/applink"
head -c 200 "$source_dir/demo/swing/notes/icon.png" >"$work/cut.png"
refuse "a truncated PNG" "does not decode" package "$tree" "$work/refused" --icon "$work/cut.png"
refuse "a category with a blank" "no registered desktop menu category" package "$tree" "$work/refused" \
  --linux-menu-group 'Office Tools'

# Hostile metadata: nothing runs while the packages are made, no scriptlet
# or control field appears, and the packages say exactly what was given.
marker="$work/PWNED"
# shellcheck source=pack/packages/hostile_values.sh
source "$source_dir/pack/packages/hostile_values.sh"
homepage="https://example.org/?q=%(touch%20$marker)&x=%{lua:os.execute('touch%20$marker')}"
long=$'ok `touch '"$marker"$'`\n\na; touch '"$marker"$' %(touch '"$marker"$')\nit\'s "quoted" $(touch '"$marker"')'
SOURCE_DATE_EPOCH=1700000000 "$pack" package --quiet --type deb,rpm "$tree" --dest "$work/hostile" \
  --maintainer "${hostile_values[5]} <ann@example.org>" --description "${hostile_values[0]}" \
  --vendor "${hostile_values[1]}" --homepage "$homepage" --license-type "${hostile_values[3]}" \
  --long-description "$long" --wm-class "${hostile_values[9]}" --copyright "${hostile_values[6]}" ||
  fail "the hostile values were refused"
[ ! -e "$marker" ] || fail "a metadata value ran as code while the packages were made"
rpm_file="$(echo "$work"/hostile/*.rpm)"
deb_file="$(echo "$work"/hostile/*.deb)"
[ -z "$(rpm -qp --scripts "$rpm_file" 2>/dev/null)" ] || fail "the .rpm has scriptlets: $(rpm -qp --scripts "$rpm_file")"
expected="$(printf '%s\n' "${hostile_values[0]}" "${hostile_values[1]}" "$homepage" \
  "${hostile_values[3]}" "${hostile_values[5]} <ann@example.org>")"
said="$(rpm -qp --qf '%{SUMMARY}\n%{VENDOR}\n%{URL}\n%{LICENSE}\n%{PACKAGER}\n' "$rpm_file" 2>/dev/null)"
[ "$said" = "$expected" ] || fail "the .rpm says '$said', not '$expected'"
[ "$(rpm -qp --qf '%{DESCRIPTION}' "$rpm_file" 2>/dev/null)" = "$long" ] ||
  fail "the .rpm's description is '$(rpm -qp --qf '%{DESCRIPTION}' "$rpm_file")'"
fields="$(dpkg-deb -f "$deb_file" | grep -o '^[A-Za-z-]*:' | tr -d : | tr '\n' ' ')"
[ "$fields" = "Package Version Architecture Maintainer Installed-Size Depends Section Priority Homepage Description " ] ||
  fail "the control file has the fields $fields"
[ "$(dpkg-deb -f "$deb_file" Description | head -1)" = "${hostile_values[0]}" ] || fail "the .deb's summary changed"
[ "$(dpkg-deb -f "$deb_file" Maintainer)" = "${hostile_values[5]} <ann@example.org>" ] || fail "the .deb's maintainer changed"
[ "$(dpkg-deb --ctrl-tarfile "$deb_file" | tar -t | sort | tr '\n' ' ')" = "./ ./control ./md5sums " ] ||
  fail "the .deb has more control files than control and md5sums"
refuse "line break in a one-line field" "one line" package "$tree" "$work/refused" --description "${hostile_values[8]}"
refuse "a section line in the description" "starts with '%'" package "$tree" "$work/refused" \
  --long-description "${hostile_values[4]}"
refuse "a field in a dependency" "no Debian dependency" package "$tree" "$work/refused" --package-deps "${hostile_values[8]}"
refuse "a macro in a dependency" "no Debian dependency" package "$tree" "$work/refused" --package-deps 'bash%touch'
refuse "a blank in the homepage" "one URL" package "$tree" "$work/refused" --homepage "${hostile_values[2]}"
refuse "world-writable install dir" "under /var/tmp" package "$tree" "$work/refused" --install-dir /var/tmp/demo
refuse "/opt as install dir" "system folder" package "$tree" "$work/refused" --install-dir /opt
refuse "install dir in /etc" "under /etc" package "$tree" "$work/refused" --install-dir /etc/demo
refuse "--type ''" "--type '' is none of" "$pack" package --type '' "$tree" --dest "$work/refused"
refuse "--dest in the tree" "inside the tree" "$pack" package --type tar.gz "$tree" --dest "$tree/lib/out"
[ ! -e "$tree/lib/out" ] || fail "--dest in the tree was made"
[ ! -e "$marker" ] || fail "a metadata value ran as code"
for link in /etc/shadow ../../../../../etc/shadow; do
  ln -s "$link" "$tree/lib/app/secret"
  refuse "a link to $link" "lib/app/secret points to $link, outside the tree" \
    "$pack" package --type tar.gz "$tree" --dest "$work/refused"
  rm "$tree/lib/app/secret"
done

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "packages_e2e: all checks passed"
