#!/usr/bin/env bash
# Start-up of the same jars five ways, for each JDK present, measured side by
# side in one run:
#   (a) the app tree `vorlane-pack app --jdk JDK` makes,
#   (b) the same with `--app-cds` (the archive kind the packer picks for it),
#   (c) `java -cp` on that JDK,
#   (e) `java -cp` with that JDK's best cache made by hand (the dynamic
#       archive of -XX:ArchiveClassesAtExit before 25, the ahead-of-time
#       cache of -XX:AOTCacheOutput on 25 and later),
#   (d) that JDK's `jpackage --type app-image` with its defaults.
# Two apps: a hello world, and one on the jars of Debian's Guava and Commons
# Lang. Writes a table of median wall time and peak memory with the ratios
# a/c, a/d, b/c, b/d and b/e per JDK to RESULTS/app-start.md, and a bar chart
# of them to RESULTS/app-start.svg.
#
# Environment: JDKS (JDK homes, blank-separated; default: the JDK of the javac
# on PATH and Temurin 25 at /usr/lib/jvm/temurin-25-jdk-amd64 where present),
# RUNS (timed runs per variant, default 40), ROUNDS (default 4), MEMORY_RUNS
# (default 10), RESULTS (default bench/results), NICE (a niceness for the
# timed runs, e.g. -10 as root on a machine others are busy on: every variant
# gets the same; default: unchanged), REPORT_ONLY (set: only write the table
# and the chart again from the last run's figures). A quick and noisy pass:
# RUNS=6 ROUNDS=2 MEMORY_RUNS=2.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${RUNS:-40}
rounds=${ROUNDS:-4}
memory_runs=${MEMORY_RUNS:-10}
results=${RESULTS:-bench/results}
nice_prefix=()
[ -z "${NICE:-}" ] || nice_prefix=(nice -n "$NICE")
work=build/bench/app-start

if [ -z "${REPORT_ONLY:-}" ]; then
  scripts/install-deps
  cmake --preset default >/dev/null
  cmake --build --preset default -j2 --target vorlane-pack launcher vorlane_launcher_jar >/dev/null
fi
pack=$PWD/build/vorlane-pack
template=$PWD/build/launcher
# The system JDK: the one whose javac is on PATH (Debian's openjdk-17). It
# compiles the apps, for Java 17, so that every JDK runs the same classes.
system_jdk=$(dirname "$(dirname "$(readlink -f "$(command -v javac)")")")
if [ -z "${JDKS:-}" ]; then
  JDKS=$system_jdk
  [ ! -x /usr/lib/jvm/temurin-25-jdk-amd64/bin/java ] || JDKS+=" /usr/lib/jvm/temurin-25-jdk-amd64"
fi
libs_jars=(/usr/share/java/guava.jar /usr/share/java/commons-lang3.jar)

mkdir -p "$work" "$results"
work=$(cd "$work" && pwd)
case "$work" in *" "*) echo "the work folder $work must not hold blanks" >&2; exit 2 ;; esac

# feature JDK: its feature release (17, 25), from its release file.
feature() { sed -n 's/^JAVA_VERSION="\([0-9]*\).*/\1/p' "$1/release"; }

# make_variants NAME MAIN_CLASS JDK: the input folder and the five ways to
# start it with that JDK, in $work/jdkN/NAME; sets `commands`.
make_variants() {
  local name=$1 main=$2 jdk=$3 tag dir
  tag=jdk$(feature "$jdk")
  dir=$work/$tag/$name
  rm -rf "$dir"
  mkdir -p "$dir/in"
  "$system_jdk/bin/jar" cf "$dir/in/$name.jar" -C "$work/classes" bench
  if [ "$name" = libs ]; then cp -L "${libs_jars[@]}" "$dir/in/"; fi

  echo "== $tag $name: (a) vorlane-pack app" >&2
  JAVA_HOME=$jdk "$pack" app --name "$name" --input "$dir/in" --main-jar "$name.jar" \
    --main-class "$main" --dest "$dir/a" --template "$template" --jdk "$jdk"
  echo "== $tag $name: (b) vorlane-pack app --app-cds" >&2
  "$pack" app --name "$name" --input "$dir/in" --main-jar "$name.jar" --main-class "$main" \
    --dest "$dir/b" --template "$template" --runtime-image "$dir/a/$name/lib/runtime" --app-cds
  echo "== $tag $name: (d) jpackage --type app-image" >&2
  "$jdk/bin/jpackage" --type app-image --input "$dir/in" --main-jar "$name.jar" --main-class "$main" \
    --name "$name" --dest "$dir/d"

  # The class path of (c) in the order the packer writes it: main jar first.
  local class_path=$dir/in/$name.jar jar cache_option
  for jar in $(cd "$dir/in" && ls -- *.jar | LC_ALL=C sort); do
    [ "$jar" = "$name.jar" ] || class_path+=":$dir/in/$jar"
  done
  echo "== $tag $name: (e) the JDK's best cache, made by hand" >&2
  if [ "$(feature "$jdk")" -ge 25 ]; then
    "$jdk/bin/java" -XX:AOTCacheOutput="$dir/e.aot" -cp "$class_path" "$main" >/dev/null 2>&1
    cache_option=-XX:AOTCache=$dir/e.aot
  else
    "$jdk/bin/java" -XX:ArchiveClassesAtExit="$dir/e.jsa" -cp "$class_path" "$main" >/dev/null 2>&1
    cache_option=-XX:SharedArchiveFile=$dir/e.jsa
  fi
  commands=(
    "$dir/a/$name/bin/$name"
    "$dir/b/$name/bin/$name"
    "$jdk/bin/java -cp $class_path $main"
    "$jdk/bin/java $cache_option -cp $class_path $main"
    "$dir/d/$name/bin/$name"
  )
  # The same output every way, or the comparison means nothing.
  local expected actual c
  expected=$(${commands[2]})
  for c in "${commands[@]}"; do
    actual=$($c)
    if [ "$actual" != "$expected" ]; then
      echo "'$c' printed something else than java -cp:" >&2
      diff <(echo "$expected") <(echo "$actual") >&2 || true
      exit 1
    fi
  done
}

# median: the middle of the numbers on standard input.
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# measure TAG NAME: median wall time (ms), peak resident memory (MB) and mean
# CPU time (ms) of each variant, on lines "TAG NAME VARIANT ms MB cpu". The
# timed runs come in ROUNDS rounds, each variant in turn starting a round, so
# that a change in the machine's load falls on all five alike.
measure() {
  local tag=$1 name=$2 labels=(a b c e d) round i order
  local per_round=$(((runs + rounds - 1) / rounds))
  echo "== $tag $name: timing, $((per_round * rounds)) runs each in $rounds rounds" >&2
  rm -f "$work/$tag-$name"-round-*.json
  for round in $(seq 0 $((rounds - 1))); do
    order=()
    for i in 0 1 2 3 4; do
      local k=$(((i + round) % 5))
      order+=(-n "${labels[$k]}" "${commands[$k]}")
    done
    "${nice_prefix[@]}" hyperfine -N --style basic --warmup $((round == 0 ? 5 : 2)) --runs "$per_round" \
      --export-json "$work/$tag-$name-round-$round.json" "${order[@]}" >/dev/null
  done
  # Every run's time, and each round's mean user and system time, by variant.
  awk '
    /"command":/ { gsub(/[",]/, "", $2); command = $2 }
    /"user":/ { gsub(/,/, "", $2); user = $2 }
    /"system":/ { gsub(/,/, "", $2); print "cpu", command, (user + $2) * 1000 }
    /"times": \[/ { in_times = 1; next }
    in_times && /\]/ { in_times = 0 }
    in_times { gsub(/,/, "", $1); print "time", command, $1 * 1000 }
  ' "$work/$tag-$name"-round-*.json >"$work/$tag-$name-runs.txt"
  for i in 0 1 2 3 4; do
    local ms kib cpu runs_file=$work/$tag-$name-runs.txt
    ms=$(awk -v n="${labels[$i]}" '$1 == "time" && $2 == n { print $3 }' "$runs_file" | median)
    cpu=$(awk -v n="${labels[$i]}" '$1 == "cpu" && $2 == n { s += $3; c++ } END { printf "%.1f", s / c }' \
            "$runs_file")
    kib=$(for _ in $(seq "$memory_runs"); do
            /usr/bin/time -f %M ${commands[$i]} 2>&1 >/dev/null | tail -1
          done | median)
    echo "$tag $name ${labels[$i]} $(printf "%.1f" "$ms")" \
         "$(awk -v k="$kib" 'BEGIN { printf "%.1f", k / 1024 }') $cpu"
  done
}

if [ -z "${REPORT_ONLY:-}" ]; then
  echo "== Compiling the benchmark apps" >&2
  rm -rf "$work/classes"
  "$system_jdk/bin/javac" -nowarn --release 17 -d "$work/classes" \
    -cp "$(IFS=:; echo "${libs_jars[*]}")" bench/apps/bench/*.java 2>/dev/null
  : >"$work/all.dat"
  versions=()
  for jdk in $JDKS; do
    versions+=("$("$jdk/bin/java" -version 2>&1 | head -1)")
    make_variants hello bench.Hello "$jdk"
    measure "jdk$(feature "$jdk")" hello >>"$work/all.dat"
    make_variants libs bench.LibsApp "$jdk"
    measure "jdk$(feature "$jdk")" libs >>"$work/all.dat"
  done
  "$system_jdk/bin/java" -Xlog:class+load=info -cp "$(echo "${commands[2]}" | awk '{ print $3 }')" \
    bench.LibsApp | awk '/ source: / { n++; if (/guava|commons-lang3/) j++ }
                         END { printf "%d classes, %d of them from the two jars", n, j }' \
    >"$work/libs-classes.txt"
  echo "Measured by \`bench/app_start.sh\` on $(date -u +%Y-%m-%d), $(nproc) cores," \
       "$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1);" \
       "$(IFS=';'; echo "${versions[*]}"); $runs timed runs per variant (hyperfine," \
       "in $rounds rounds that take turns${NICE:+, at niceness $NICE}), peak memory as the median of" \
       "$memory_runs runs; load average $(cut -d' ' -f1-3 /proc/loadavg) at the end." >"$work/setup.txt"
fi

# The table, the ratios and the targets.
{
  echo "# Start-up: Vorlane against \`java -cp\`, the JDK's own cache and a default \`jpackage\` image"
  echo
  cat "$work/setup.txt"
  echo "The libraries app loads $(cat "$work/libs-classes.txt")."
  echo
  echo "| JDK | app | variant | median wall time | peak memory (RSS) | CPU time (user + system, mean) |"
  echo "|---|---|---|---:|---:|---:|"
  awk '{
    split("(a) vorlane-pack app|(b) vorlane-pack app --app-cds|(c) java -cp|(e) java -cp, cache by hand|(d) jpackage app image", names, "|")
    v = index("abced", $3)
    printf "| %s | %s | %s | %s ms | %s MB | %s ms |\n", substr($1, 4),
           ($2 == "hello" ? "hello world" : "Guava + Commons Lang"), names[v], $4, $5, $6
  }' "$work/all.dat"
  echo
  echo "| JDK | app | a/c | a/d | b/c | b/d | b/e |"
  echo "|---|---|---:|---:|---:|---:|---:|"
  awk '
    { t["wall", $1, $2, $3] = $4; t["cpu", $1, $2, $3] = $6
      if (!($1 in seen)) { seen[$1] = 1; order[++n] = $1 } }
    function cell(kind, jdk, app, x, y, target,   r, mark) {
      r = t[kind, jdk, app, x] / t[kind, jdk, app, y]
      mark = target == "" ? "" : (r <= target ? " (target <= " target ": met)" : " (target <= " target ": missed)")
      return sprintf("%.3f%s", r, mark)
    }
    function row(jdk, app, label, kind, targets,   tg) {
      split(targets, tg, ",")
      printf "| %s | %s | %s | %s | %s | %s | %s |\n", substr(jdk, 4), label,
             cell(kind, jdk, app, "a", "c", tg[1]), cell(kind, jdk, app, "a", "d", tg[2]),
             cell(kind, jdk, app, "b", "c", tg[3]), cell(kind, jdk, app, "b", "d", tg[4]),
             cell(kind, jdk, app, "b", "e", tg[5])
    }
    END {
      for (i = 1; i <= n; i++) {
        row(order[i], "hello", "hello world", "wall", "1.0,0.3,,,")
        row(order[i], "libs", "Guava + Commons Lang", "wall", ",,0.5,,1.0")
        row(order[i], "hello", "hello world, CPU time", "cpu", ",,,,")
        row(order[i], "libs", "Guava + Commons Lang, CPU time", "cpu", ",,,,")
      }
    }' "$work/all.dat"
  echo
  echo "The targets are on median wall time. Other work on the machine lengthens every"
  echo "start by about the same time, which pulls those ratios towards 1; the ratios of"
  echo "CPU time show the work each way does itself."
  echo
  echo "![Start-up time and peak memory](app-start.svg)"
} >"$results/app-start.md"

# The chart: one panel for time, one for memory; a group per JDK and app.
awk '{ v[$1, $2, $3] = $4; m[$1, $2, $3] = $5; if (!($1 in seen)) { seen[$1] = 1; order[++n] = $1 } }
  END {
    split("a b c e d", vs, " ")
    for (i = 1; i <= n; i++) {
      for (k = 1; k <= 2; k++) {
        app = k == 1 ? "hello" : "libs"
        printf "\"%s, JDK %s\"", (k == 1 ? "hello world" : "Guava + Commons Lang"), substr(order[i], 4)
        for (x = 1; x <= 5; x++) printf " %s", v[order[i], app, vs[x]]
        for (x = 1; x <= 5; x++) printf " %s", m[order[i], app, vs[x]]
        printf "\n"
      }
    }
  }' "$work/all.dat" >"$work/chart.dat"
groups=$(wc -l <"$work/chart.dat")
gnuplot <<PLOT
set terminal svg size 1400,640 font "sans,11" background "white"
set output "$results/app-start.svg"
set multiplot layout 2,1 title "Start-up of the same jars per JDK (median of $runs runs; lower is better)"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set key outside right vertical reverse Left
set grid ytics
set yrange [0:*]
set offsets 0, 0, graph 0.12, 0
set xrange [-0.55:$groups - 0.45]
set linetype 1 lc rgb "#1b7837"
set linetype 2 lc rgb "#5aae61"
set linetype 3 lc rgb "#9970ab"
set linetype 4 lc rgb "#762a83"
set linetype 5 lc rgb "#c2a5cf"
set title "wall time (ms)"
plot "$work/chart.dat" using 2:xtic(1) title "(a) vorlane-pack app", \
     "" using 3 title "(b) ... --app-cds", \
     "" using 4 title "(c) java -cp", \
     "" using 5 title "(e) java -cp, cache by hand", \
     "" using 6 title "(d) jpackage image", \
     "" using (\$0 - 0.32):2:(sprintf("%.0f", \$2)) with labels offset 0,0.6 notitle, \
     "" using (\$0 - 0.16):3:(sprintf("%.0f", \$3)) with labels offset 0,0.6 notitle, \
     "" using (\$0):4:(sprintf("%.0f", \$4)) with labels offset 0,0.6 notitle, \
     "" using (\$0 + 0.16):5:(sprintf("%.0f", \$5)) with labels offset 0,0.6 notitle, \
     "" using (\$0 + 0.32):6:(sprintf("%.0f", \$6)) with labels offset 0,0.6 notitle
set title "peak memory (MB)"
plot "$work/chart.dat" using 7:xtic(1) title "(a) vorlane-pack app", \
     "" using 8 title "(b) ... --app-cds", \
     "" using 9 title "(c) java -cp", \
     "" using 10 title "(e) java -cp, cache by hand", \
     "" using 11 title "(d) jpackage image"
unset multiplot
PLOT

cat "$results/app-start.md"
echo "== Chart: $results/app-start.svg" >&2
