#!/usr/bin/env bash
# Which class-data archive an app tree on a given JDK should get. For each kind
# the JDK offers it checks whether a jar changed, removed or added after the
# archive was made can make the app run the archive's old classes, and times
# the start of an app on Guava and Commons Lang with it, against no archive of
# its own, in the same run.
#
#   bench/archive_kinds.sh JDK_HOME
#   EMULATOR="qemu-aarch64 -L .cache/aarch64-trixie -cpu neoverse-n1" \
#     bench/archive_kinds.sh .cache/aarch64-trixie/usr/lib/jvm/java-21-openjdk-arm64
#
# Kinds: none (the runtime's default archive), dynamic (made at the exit of a
# training run), static (dumped from the class list of a training run),
# static+linked (the same, dumped with -XX:+AOTClassLinking; 24+) and aot (the
# ahead-of-time cache, made in two steps, record then create; 25+).
# Environment: RUNS (timed runs per kind, default 20), ROUNDS (default 4),
# TIMING (no: only the stale-class check), EMULATOR (a command prefix that
# runs the JDK's programs). Writes bench/results/archive-kinds-<version>-<arch>.md.
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -eq 1 ] || { echo "usage: $0 JDK_HOME" >&2; exit 2; }
jdk=$(cd "$1" && pwd)
runs=${RUNS:-20}
rounds=${ROUNDS:-4}
read -r -a emulator <<<"${EMULATOR:-}"
java=("${emulator[@]}" "$jdk/bin/java")
host_jdk=$(dirname "$(dirname "$(readlink -f "$(command -v javac)")")")
version=$(sed -n 's/^JAVA_VERSION="\(.*\)"/\1/p' "$jdk/release")
feature=${version%%.*}
arch=$(sed -n 's/^OS_ARCH="\(.*\)"/\1/p' "$jdk/release")
name=archive-kinds-$version-$arch
work=$PWD/build/bench/$name
results=bench/results
rm -rf "$work"
mkdir -p "$work" "$results"

# Warnings about an archive that cannot be used go to standard output on 24+,
# into the app's output; 17-23 know no `aot` tag and refuse the whole option.
if [ "$feature" -ge 24 ]; then quiet=-Xlog:aot*=off,cds*=off; else quiet=-Xlog:cds*=off; fi
kinds=(none dynamic static)
[ "$feature" -lt 24 ] || kinds+=(static+linked)
[ "$feature" -lt 25 ] || kinds+=(aot)

# make_archive KIND DIR CLASS_PATH MAIN: makes KIND's archive for the app in
# DIR/archive.* and prints the options that use it.
make_archive() {
  local kind=$1 dir=$2 cp=$3 main=$4
  case $kind in
    none) ;;
    dynamic)
      "${java[@]}" -XX:ArchiveClassesAtExit="$dir/archive.jsa" -cp "$cp" "$main" >/dev/null
      echo "-XX:SharedArchiveFile=$dir/archive.jsa" ;;
    static | static+linked)
      "${java[@]}" -Xshare:off -XX:DumpLoadedClassList="$dir/archive.classlist" -cp "$cp" "$main" >/dev/null
      local link=()
      [ "$kind" = static ] || link=(-XX:+AOTClassLinking)
      "${java[@]}" -Xshare:dump "${link[@]}" -XX:SharedClassListFile="$dir/archive.classlist" \
        -XX:SharedArchiveFile="$dir/archive.jsa" -cp "$cp" >/dev/null
      echo "-XX:SharedArchiveFile=$dir/archive.jsa" ;;
    aot)
      "${java[@]}" -XX:AOTMode=record -XX:AOTConfiguration="$dir/archive.aotconf" -cp "$cp" "$main" >/dev/null
      "${java[@]}" -XX:AOTMode=create -XX:AOTConfiguration="$dir/archive.aotconf" \
        -XX:AOTCache="$dir/archive.aot" -cp "$cp" >/dev/null 2>&1
      echo "-XX:AOTCache=$dir/archive.aot" ;;
  esac
}

# ---------------------------------------------------------------------------
# Stale classes: stale.Main prints stale.Util.version(); util.jar holds v1 when
# the archive is made, then each case changes the jars and runs the app again.
echo "== $version: stale-class check" >&2
src=$work/stale-src
mkdir -p "$src"
build_util() {  # build_util TEXT JAR MTIME
  rm -rf "$src/u" && mkdir -p "$src/u"
  sed "s/VERSION/$1/" bench/apps/stale/Util.java >"$src/u/Util.java"
  "$host_jdk/bin/javac" --release 17 -d "$src/u/classes" "$src/u/Util.java"
  (cd "$src/u/classes" && "$host_jdk/bin/jar" cf "$2" stale/Util.class)
  touch -d "$3" "$2"
}
build_util v1 "$src/util-v1.jar" 2020-01-01T00:00:00
"$host_jdk/bin/javac" --release 17 -d "$src/main-classes" -cp "$src/util-v1.jar" bench/apps/stale/Main.java
(cd "$src/main-classes" && "$host_jdk/bin/jar" cf "$src/main.jar" stale/Main.class)
touch -d 2020-01-01T00:00:00 "$src/main.jar"
build_util v2 "$src/util-v2.jar" 2021-01-01T00:00:00
build_util v2-longer "$src/util-v2-longer.jar" 2021-01-01T00:00:00
cp -p "$src/util-v2.jar" "$src/util-v2-old-time.jar"
touch -r "$src/util-v1.jar" "$src/util-v2-old-time.jar"
# main.jar with Util v2 inside, for a jar removed and its class moved.
rm -rf "$src/merged" && mkdir -p "$src/merged"
(cd "$src/merged" && "$host_jdk/bin/jar" xf "$src/main.jar" && "$host_jdk/bin/jar" xf "$src/util-v2.jar" &&
   rm -rf META-INF && "$host_jdk/bin/jar" cf "$src/main-with-util.jar" stale)
touch -d 2021-01-01T00:00:00 "$src/main-with-util.jar"

# What each case does to app/ (main.jar and util.jar, as made) and the class
# path it then runs with; the archive was made with app/main.jar:app/util.jar.
cases=(
  "rebuilt, same size, new time|cp -p util-v2.jar app/util.jar|app/main.jar:app/util.jar"
  "rebuilt, new size|cp -p util-v2-longer.jar app/util.jar|app/main.jar:app/util.jar"
  "rebuilt, same size and time|cp -p util-v2-old-time.jar app/util.jar|app/main.jar:app/util.jar"
  "removed|rm app/util.jar|app/main.jar:app/util.jar"
  "removed, class moved to another jar|rm app/util.jar; cp -p main-with-util.jar app/main.jar|app/main.jar:app/util.jar"
  "added before it on the class path|cp -p util-v2.jar app/added.jar|app/main.jar:app/added.jar:app/util.jar"
)
stale_table=$work/stale.md
{
  echo "| kind | $(for c in "${cases[@]}"; do printf '%s | ' "${c%%|*}"; done)"
  echo "|---|$(for _ in "${cases[@]}"; do printf -- '---|'; done)"
} >"$stale_table"
for kind in "${kinds[@]}"; do
  [ "$kind" != none ] || continue
  dir=$work/stale-$kind
  mkdir -p "$dir/app"
  cp -p "$src/main.jar" "$dir/app/main.jar"
  cp -p "$src/util-v1.jar" "$dir/app/util.jar"
  opts=$(cd "$dir" && make_archive "$kind" "$dir" app/main.jar:app/util.jar stale.Main)
  row="| $kind |"
  for c in "${cases[@]}"; do
    IFS='|' read -r _ change class_path <<<"$c"
    rm -rf "$dir/app" && mkdir -p "$dir/app"
    cp -p "$src/main.jar" "$dir/app/main.jar"
    cp -p "$src/util-v1.jar" "$dir/app/util.jar"
    # The archive must serve the unchanged app, or the case shows nothing.
    before=$(cd "$dir" && "${java[@]}" $quiet $opts -Xlog:class+load=info:file="$dir/before.log" \
               -cp app/main.jar:app/util.jar stale.Main)
    grep -q 'stale.Util source: shared' "$dir/before.log" || { echo "$kind: archive unused" >&2; exit 1; }
    [ "$before" = v1 ] || { echo "$kind: printed $before before any change" >&2; exit 1; }
    (cd "$src" && eval "${change//app\//$dir/app/}")
    set +e
    out=$(cd "$dir" && "${java[@]}" $quiet $opts -Xlog:class+load=info:file="$dir/after.log" \
            -cp "$class_path" stale.Main 2>"$dir/after.err")
    status=$?
    set -e
    shared=$(grep -c 'source: shared' "$dir/after.log" || true)
    if [ "$out" = v1 ]; then cell="**stale: v1**"
    elif [ $status -ne 0 ]; then cell="fails: $(grep -o 'NoClassDefFoundError' "$dir/after.err" | head -1)"
    else cell="$out"; fi
    grep -q 'stale.Util source: shared' "$dir/after.log" && cell+=" (from the archive)"
    row+=" $cell, $shared shared |"
  done
  echo "$row" >>"$stale_table"
done
cat "$stale_table" >&2

# ---------------------------------------------------------------------------
# Start-up of the Guava + Commons Lang app with each kind.
timing_table=$work/timing.md
if [ "${TIMING:-yes}" != no ]; then
  echo "== $version: timing, $runs runs per kind" >&2
  libs=$work/libs
  mkdir -p "$libs/app"
  "$host_jdk/bin/javac" --release 17 -nowarn -d "$libs/classes" \
    -cp /usr/share/java/guava.jar:/usr/share/java/commons-lang3.jar bench/apps/bench/LibsApp.java 2>/dev/null
  "$host_jdk/bin/jar" cf "$libs/app/libs.jar" -C "$libs/classes" bench
  cp -L /usr/share/java/guava.jar /usr/share/java/commons-lang3.jar "$libs/app/"
  cp_libs=$libs/app/libs.jar:$libs/app/commons-lang3.jar:$libs/app/guava.jar
  commands=()
  names=()
  for kind in "${kinds[@]}"; do
    mkdir -p "$libs/$kind"
    opts=$(make_archive "$kind" "$libs/$kind" "$cp_libs" bench.LibsApp)
    command="${java[*]} $quiet $opts -cp $cp_libs bench.LibsApp"
    [ "$($command 2>/dev/null | md5sum)" = "$("${java[@]}" -cp "$cp_libs" bench.LibsApp 2>/dev/null | md5sum)" ] ||
      { echo "$kind: the app printed something else" >&2; exit 1; }
    names+=("$kind")
    commands+=("$command")
  done
  per_round=$(((runs + rounds - 1) / rounds))
  for round in $(seq 0 $((rounds - 1))); do
    args=()
    for i in "${!kinds[@]}"; do
      k=$(((i + round) % ${#kinds[@]}))
      args+=(-n "${names[$k]}" "${commands[$k]}")
    done
    hyperfine -N --style basic --warmup 1 --runs "$per_round" \
      --export-json "$work/round-$round.json" "${args[@]}" >/dev/null
  done
  awk '
    /"command":/ { gsub(/[",]/, "", $2); command = $2 }
    /"times": \[/ { in_times = 1; next }
    in_times && /\]/ { in_times = 0 }
    in_times { gsub(/,/, "", $1); print command, $1 * 1000 }
  ' "$work"/round-*.json >"$work/runs.txt"
  {
    echo "| kind | median wall time | vs none | archive size |"
    echo "|---|---:|---:|---:|"
    base=""
    for kind in "${kinds[@]}"; do
      ms=$(awk -v k="$kind" '$1 == k { print $2 }' "$work/runs.txt" | sort -n |
             awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }')
      base=${base:-$ms}
      size=$( (du -k "$libs/$kind"/archive.{jsa,aot} 2>/dev/null || true) | awk '{ s += $1 } END { printf "%.1f MB", s / 1024 }')
      awk -v k="$kind" -v ms="$ms" -v base="$base" -v size="$size" \
        'BEGIN { printf "| %s | %.0f ms | %.2f | %s |\n", k, ms, ms / base, size }'
    done
  } >"$timing_table"
  cat "$timing_table" >&2
fi

{
  echo "# Class-data archives on $("${java[@]}" -version 2>&1 | sed -n 2p)"
  echo
  echo "Measured by \`bench/archive_kinds.sh\` on $(date -u +%Y-%m-%d), $(nproc) cores${EMULATOR:+, under \`${EMULATOR%% *}\`};"
  echo "load average $(cut -d' ' -f1-3 /proc/loadavg) at the end."
  echo
  echo "## A jar changed after the archive was made"
  echo
  echo "What \`stale.Main\` printed (v1 is the archived class, v2 the jar's), and how many classes"
  echo "came from the archive (\`shared\`)."
  echo
  cat "$stale_table"
  if [ -f "$timing_table" ]; then
    echo
    echo "## Start-up of the Guava + Commons Lang app ($runs runs per kind, median)"
    echo
    cat "$timing_table"
  fi
} >"$results/$name.md"
echo "$results/$name.md"
