#!/usr/bin/env bash
# A self-update of the Swing demo's tarball install, 1.0 to 1.1, where one
# jar changed (the demo jar, by one resource): both trees are made with
# `vorlane-pack app --updates` as the demo's build makes its tree, packaged
# as self-updating tar.gz files and published to a scratch site, which
# python's http.server serves on 127.0.0.1. For RUNS fresh unpacks of 1.0,
# `bin/vorlane-notes --apply-update` updates it and `--self-test` starts the
# new version. Writes RESULTS/self-update.md:
#   - the bytes downloaded (the server's log: the files it sent) against the
#     1.1 tar.gz;
#   - the time from the apply to the end of the new version's first start,
#     median of RUNS, against unpacking the 1.1 tar.gz from the local disk
#     and starting it;
#   - the bytes when the runtime changed too (1.2 made with Temurin 25 at
#     /usr/lib/jvm/temurin-25-jdk-amd64, when present);
#   - the new version's start with the runtime's class-data archive the
#     updater remade and without it (hyperfine), through its launcher and
#     through the runtime's own java, each with whether it maps that archive
#     (-Xlog:cds), and what shipping the archive would cost in bytes.
#
#   bench/self_update.sh     (RUNS=3 STARTS=10 RESULTS=bench/results JDK25=...)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${RUNS:-3}
starts=${STARTS:-10}
results=${RESULTS:-bench/results}
jdk25=${JDK25:-/usr/lib/jvm/temurin-25-jdk-amd64}
name=vorlane-notes

scripts/glibc-sysroot
cmake --preset default >/dev/null
cmake --build --preset default --target vorlane-pack launcher vorlane_launcher_jar \
  vorlane_updater_jar swing_demo_jar >/dev/null
source_dir=$PWD
pack=$source_dir/build/vorlane-pack
template=$source_dir/build/launcher
demo_jar=$source_dir/build/demo/swing/vorlane-notes.jar
system_jdk=$(dirname "$(dirname "$(readlink -f "$(command -v javac)")")")
epoch=$(git log -1 --format=%ct)
arch=$(uname -m)

work=$(mktemp -d)
server_pid=
cleanup() {
  [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true
  [ -z "$server_pid" ] || wait "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
site=$work/site
mkdir -p "$site"
# The demo is single instance: its lock and socket go to a folder of the
# bench's own, so that no running instance of the demo is handed the bench's
# starts (nor the bench another's).
export XDG_RUNTIME_DIR=$work/run
mkdir -m 0700 "$XDG_RUNTIME_DIR"

# The site is served from the start, on a port the system picks: the
# packages must name its address.
coproc SERVER { exec python3 -u -m http.server --bind 127.0.0.1 0 --directory "$site" 2>"$work/server.log"; }
# shellcheck disable=SC2153 # coproc sets SERVER_PID
server_pid=$SERVER_PID
line=
read -t 30 -r line <&"${SERVER[0]}" || true
port=$(printf '%s\n' "$line" | sed -n 's/^Serving HTTP on 127\.0\.0\.1 port \([0-9]*\).*/\1/p')
[ -n "$port" ] || { echo "the site's server did not start: $line" >&2; cat "$work/server.log" >&2; exit 1; }
url=http://127.0.0.1:$port
echo "site at $url" >&2

"$pack" publish --quiet --new-key "$work/key"
openssl pkey -in "$work/key/feed-key.pem" -pubout -out "$work/key/feed-key.pub.pem"

# tree VERSION JDK: the demo's tree at that version in $work/tree-VERSION,
# its demo jar carrying a resource that names the version.
tree() {
  local v=$1 jdk=$2 in=$work/input-$1
  mkdir -p "$in/notes"
  cp "$demo_jar" "$in/$name.jar"
  printf 'Vorlane Notes %s\n' "$v" >"$in/notes/release.txt"
  (cd "$in" && jar uf "$name.jar" notes/release.txt && rm -r notes)
  JAVA_HOME=$system_jdk SOURCE_DATE_EPOCH=$epoch "$pack" app --quiet \
    --name "$name" --input "$in" --main-jar "$name.jar" --main-class notes.Main \
    --dest "$work/tree-$v" --template "$template" --jdk "$jdk" --updates \
    --java-option -Dfile.encoding=UTF-8 --single-instance --splash demo/swing/splash.png \
    --allow-java-option -Xmx --allow-java-option -Xlog --allow-java-option -Xshare \
    --app-cds=--self-test
}
# package VERSION: its self-updating tar.gz, published; prints the file.
package() {
  local v=$1
  SOURCE_DATE_EPOCH=$epoch "$pack" package --quiet --type tar.gz "$work/tree-$v/$name" \
    --dest "$work/packages-$v" --app-version "$v" \
    --update-site "$url" --update-key "$work/key/KEY.asc" \
    --update-feed-key "$work/key/feed-key.pub.pem"
  local file
  file=$(ls "$work/packages-$v"/*.tar.gz)
  "$pack" publish --quiet "$site" "$file" --base-url "$url" \
    --signing-key "$work/key/signing-key.asc" --feed-key "$work/key/feed-key.pem"
  echo "$file"
}
# sent_since LINE: the bytes of the site's files the server sent after that
# line of its log (every GET it answered with 200 or 206; none is partial here).
sent_since() {
  tail -n +"$(($1 + 1))" "$work/server.log" |
    sed -n 's/.*"GET \([^ ]*\) HTTP[^"]*" 20[06] .*/\1/p' |
    while read -r path; do stat -c %s "$site$path"; done |
    awk '{ s += $1 } END { print s + 0 }'
}
log_lines() { wc -l <"$work/server.log"; }
now() { date +%s.%N; }
median() { sort -g | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }
ratio() { echo "scale=3; $1 / $2" | bc | sed 's/^\./0./'; }

echo "making the trees and tar.gz files of 1.0 and 1.1" >&2
tree 1.0 "$system_jdk"
tree 1.1 "$system_jdk"
tar10=$(package 1.0)
tar11=$(package 1.1)
size11=$(stat -c %s "$tar11")

# update_once VERSION: a fresh unpack of 1.0 in $work/install updated to
# VERSION; sets `downloaded`, `offered` and `seconds` (apply to the end of the
# new version's first start).
update_once() {
  rm -rf "$work/install"
  mkdir -p "$work/install"
  tar -xzf "$tar10" -C "$work/install"
  local r=$work/install/$name before started out
  "$r/bin/$name" --self-test >/dev/null
  offered=$("$r/bin/$name" --check-updates | sed -n 's/.*, \([0-9]*\) bytes to download$/\1/p')
  before=$(log_lines)
  started=$(now)
  "$r/bin/$name" --apply-update >"$work/apply.log" ||
    { cat "$work/apply.log" >&2; return 1; }
  out=$("$r/bin/$name" --self-test)
  seconds=$(echo "$(now) - $started" | bc)
  downloaded=$(sent_since "$before")
  [ "$(readlink "$r/bin/$name")" = "../versions/$1-1/bin/$name" ] ||
    { echo "bin/$name is not the new version: $(readlink "$r/bin/$name")" >&2; return 1; }
  printf '%s\n' "$out" | grep -q 'self-test' || { echo "the new version's self-test: $out" >&2; return 1; }
}

apply_times=()
unpack_times=()
for i in $(seq 1 "$runs"); do
  update_once 1.1
  apply_times+=("$seconds")
  echo "run $i: apply to first start $seconds s, $downloaded bytes downloaded ($offered offered)" >&2
  # The other way to update: unpack the whole new tar.gz, from the local disk, and start it.
  rm -rf "$work/fresh"
  mkdir -p "$work/fresh"
  started=$(now)
  tar -xzf "$tar11" -C "$work/fresh"
  "$work/fresh/$name/bin/$name" --self-test >/dev/null
  unpack_times+=("$(echo "$(now) - $started" | bc)")
done
downloaded11=$downloaded
offered11=$offered
apply_median=$(printf '%s\n' "${apply_times[@]}" | median)
unpack_median=$(printf '%s\n' "${unpack_times[@]}" | median)

# The new version's start, with the runtime's archive the updater remade and
# without it; and what shipping that archive would add to each update.
new=$work/install/$name/versions/1.1-1
jsa=$new/lib/runtime/lib/server/classes.jsa
remade="no classes.jsa after the update"
remake_rows=""
if [ -f "$jsa" ]; then
  shipped=$(gzip -9 -c "$jsa" | wc -c)
  launcher="$work/install/$name/bin/$name --self-test"
  # The runtime's own java on the tree's class path: a start that maps the
  # runtime's archive whatever archive the launcher's options name.
  cp=$new/lib/app/$name.jar:$new/lib/app/vorlane-launcher.jar:$new/lib/app/vorlane-updater.jar
  java_cp="$new/lib/runtime/bin/java -cp $cp notes.Main --self-test"
  opens_it() { if grep -q 'Opened archive .*/classes\.jsa'; then echo yes; else echo no; fi; }
  launcher_maps=$(VORLANE_JVM_OPTIONS=-Xlog:cds=info "$work/install/$name/bin/$name" --self-test 2>&1 | opens_it)
  java_maps=$("$new/lib/runtime/bin/java" -Xlog:cds=info -cp "$cp" notes.Main --self-test 2>&1 | opens_it)
  "$work/install/$name/bin/$name" --self-test >/dev/null
  hyperfine --style none --warmup 1 --runs "$starts" --export-json "$work/with.json" "$launcher" "$java_cp" >/dev/null
  mv "$jsa" "$work/classes.jsa.aside"
  hyperfine --style none --warmup 1 --runs "$starts" --export-json "$work/without.json" "$launcher" "$java_cp" >/dev/null
  mv "$work/classes.jsa.aside" "$jsa"
  stats() { python3 -c 'import json,sys; r=json.load(open(sys.argv[1]))["results"][int(sys.argv[2])]; print("%.3f %.3f" % (r["median"], r["user"] + r["system"]))' "$1" "$2"; }
  for i in 0 1; do
    read -r with_wall with_cpu < <(stats "$work/with.json" "$i")
    read -r without_wall without_cpu < <(stats "$work/without.json" "$i")
    if [ "$i" -eq 0 ]; then what="bin/$name (maps it: $launcher_maps)"; else what="the runtime's java -cp (maps it: $java_maps)"; fi
    remake_rows+="| $what | $with_wall | $with_cpu | $without_wall | $without_cpu | $(ratio "$without_wall" "$with_wall") (CPU $(ratio "$without_cpu" "$with_cpu")) |\n"
  done
  remade="remade by the updater ($(stat -c %s "$jsa") bytes). Shipped in the feed instead, each version's own (the JVM does not dump it reproducibly, so every build has another) would add $shipped bytes (gzip -9) to every update, $(ratio "$((shipped * 100))" "$size11")% of the 1.1 tar.gz"
fi

# The runtime changed too: 1.2 on Temurin 25.
runtime_row="| 1.0 to 1.2, the runtime changed too | skipped: no JDK at $jdk25 | | |"
if [ -x "$jdk25/bin/java" ]; then
  echo "making 1.2 on $jdk25" >&2
  tree 1.2 "$jdk25"
  tar12=$(package 1.2)
  update_once 1.2
  runtime_row="| 1.0 to 1.2 on $(sed -n 's/^JAVA_VERSION="\(.*\)"/\1/p' "$jdk25/release"), the runtime changed too | $downloaded | $(stat -c %s "$tar12") | $(ratio "$((downloaded * 100))" "$(stat -c %s "$tar12")")% |"
fi

mkdir -p "$results"
{
  echo "# Self-update of the Swing demo's tarball install"
  echo
  echo "bench/self_update.sh on $(nproc) cores ($arch), load $(cut -d' ' -f1-3 /proc/loadavg), $(date -u +%Y-%m-%d):"
  echo "the demo's tree made twice with \`vorlane-pack app --updates\` on $(sed -n 's/^JAVA_VERSION="\(.*\)"/\1/p' "$system_jdk/release"),"
  echo "1.1's demo jar holding one changed resource; each a self-updating tar.gz published"
  echo "to a scratch site served by python's http.server on 127.0.0.1; $runs fresh unpacks"
  echo "of 1.0 updated with \`bin/vorlane-notes --apply-update\`. Bytes downloaded are"
  echo "the files the server sent (manifest and objects)."
  echo
  echo "| update | bytes downloaded | new tar.gz | share |"
  echo "|---|---|---|---|"
  echo "| 1.0 to 1.1, the demo jar changed | $downloaded11 (offered: $offered11) | $size11 | $(ratio "$((downloaded11 * 100))" "$size11")% |"
  echo "$runtime_row"
  echo
  echo "Time from \`--apply-update\` to the end of the new version's first \`--self-test\`,"
  echo "median of $runs: $(printf '%.2f' "$apply_median") s; unpacking the 1.1 tar.gz from the local"
  echo "disk (no download) and the same first start: $(printf '%.2f' "$unpack_median") s; ratio"
  echo "$(ratio "$apply_median" "$unpack_median"). Single runs: apply $(printf '%s ' "${apply_times[@]}")s,"
  echo "unpack $(printf '%s ' "${unpack_times[@]}")s."
  echo
  echo "The runtime's class-data archive of the new version: $remade."
  if [ -n "$remake_rows" ]; then
    echo "The new version's \`--self-test\`, $starts runs each (hyperfine), with the remade"
    echo "classes.jsa and with it moved aside; \"maps it\": \`-Xlog:cds\` says the start opened it."
    echo
    echo "| start | with: median wall (s) | mean CPU (s) | without: median wall (s) | mean CPU (s) | without / with |"
    echo "|---|---|---|---|---|---|"
    printf '%b' "$remake_rows"
    if [ "$launcher_maps" = no ]; then
      echo
      echo "Through its launcher the new version maps no archive at all: the launcher names the"
      echo "app's archive (\`-XX:SharedArchiveFile=&&/vorlane-app.jsa\`), which this tar.gz does"
      echo "not carry (on $(sed -n 's/^JAVA_VERSION="\([0-9]*\).*/\1/p' "$system_jdk/release") it serves only the path it was made at), and the JVM then maps"
      echo "neither; the remade classes.jsa serves starts that name no archive (the runtime's java)."
    fi
  fi
} >"$results/self-update.md"
cat "$results/self-update.md"
