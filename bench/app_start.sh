#!/usr/bin/env bash
# Start-up of the same jars four ways, measured side by side in one run:
#   (a) the app tree `vorlane-pack app` makes,
#   (b) the same with `--app-cds` (an app class-data archive),
#   (c) `java -cp` on the system JDK,
#   (d) `jpackage --type app-image` with its defaults.
# Two apps: a hello world, and one on the jars of Debian's Guava and Commons
# Lang. Writes a table of median wall time and peak memory with the ratios
# a/c, a/d, b/c, b/d to RESULTS/app-start.md, and a bar chart of them to
# RESULTS/app-start.svg.
#
# Environment: RUNS (timed runs per variant, default 40), ROUNDS (default 4),
# MEMORY_RUNS
# (default 10), RESULTS (default bench/results), NICE (a niceness for the
# timed runs, e.g. -10 as root on a machine others are busy on: every variant
# gets the same; default: unchanged), REPORT_ONLY (set: only write the table
# and the chart again from the last run's figures).
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
# The system JDK: the one whose javac is on PATH (Debian's openjdk-17).
jdk=$(dirname "$(dirname "$(readlink -f "$(command -v javac)")")")
export JAVA_HOME=$jdk
libs_jars=(/usr/share/java/guava.jar /usr/share/java/commons-lang3.jar)

mkdir -p "$work" "$results"
work=$(cd "$work" && pwd)
case "$work" in *" "*) echo "the work folder $work must not hold blanks" >&2; exit 2 ;; esac


# make_variants NAME MAIN_CLASS: the input folder and the four ways to start it.
make_variants() {
  local name=$1 main=$2 dir=$work/$1
  rm -rf "$dir/in" "$dir/d"
  mkdir -p "$dir/in"
  "$jdk/bin/jar" cf "$dir/in/$name.jar" -C "$work/classes" bench
  if [ "$name" = libs ]; then cp -L "${libs_jars[@]}" "$dir/in/"; fi

  echo "== $name: (a) vorlane-pack app" >&2
  "$pack" app --name "$name" --input "$dir/in" --main-jar "$name.jar" --main-class "$main" \
    --dest "$dir/a" --template "$template" --jdk "$jdk"
  echo "== $name: (b) vorlane-pack app --app-cds" >&2
  "$pack" app --name "$name" --input "$dir/in" --main-jar "$name.jar" --main-class "$main" \
    --dest "$dir/b" --template "$template" --runtime-image "$dir/a/$name/lib/runtime" --app-cds
  echo "== $name: (d) jpackage --type app-image" >&2
  "$jdk/bin/jpackage" --type app-image --input "$dir/in" --main-jar "$name.jar" --main-class "$main" \
    --name "$name" --dest "$dir/d"

  # The class path of (c) in the order the packer writes it: main jar first.
  local class_path=$dir/in/$name.jar jar
  for jar in $(cd "$dir/in" && ls -- *.jar | LC_ALL=C sort); do
    [ "$jar" = "$name.jar" ] || class_path+=":$dir/in/$jar"
  done
  commands=(
    "$dir/a/$name/bin/$name"
    "$dir/b/$name/bin/$name"
    "$jdk/bin/java -cp $class_path $main"
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

# measure NAME: median wall time (ms), peak resident memory (MB) and mean CPU
# time (ms) of each variant. The timed runs come in ROUNDS rounds, each variant
# in turn starting a round, so that a change in the machine's load falls on
# all four alike.
measure() {
  local name=$1 labels=(a b c d) round i order
  local per_round=$(((runs + rounds - 1) / rounds))
  echo "== $name: timing, $((per_round * rounds)) runs each in $rounds rounds" >&2
  rm -f "$work/$name"-round-*.json
  for round in $(seq 0 $((rounds - 1))); do
    order=()
    for i in 0 1 2 3; do
      local k=$(((i + round) % 4))
      order+=(-n "${labels[$k]}" "${commands[$k]}")
    done
    "${nice_prefix[@]}" hyperfine -N --style basic --warmup $((round == 0 ? 5 : 2)) --runs "$per_round" \
      --export-json "$work/$name-round-$round.json" "${order[@]}" >/dev/null
  done
  # Every run's time, and each round's mean user and system time, by variant.
  awk '
    /"command":/ { gsub(/[",]/, "", $2); command = $2 }
    /"user":/ { gsub(/,/, "", $2); user = $2 }
    /"system":/ { gsub(/,/, "", $2); print "cpu", command, (user + $2) * 1000 }
    /"times": \[/ { in_times = 1; next }
    in_times && /\]/ { in_times = 0 }
    in_times { gsub(/,/, "", $1); print "time", command, $1 * 1000 }
  ' "$work/$name"-round-*.json >"$work/$name-runs.txt"
  for i in 0 1 2 3; do
    local ms kib cpu
    ms=$(awk -v n="${labels[$i]}" '$1 == "time" && $2 == n { print $3 }' "$work/$name-runs.txt" | median)
    cpu=$(awk -v n="${labels[$i]}" '$1 == "cpu" && $2 == n { s += $3; c++ } END { printf "%.1f", s / c }' \
            "$work/$name-runs.txt")
    kib=$(for _ in $(seq "$memory_runs"); do
            /usr/bin/time -f %M ${commands[$i]} 2>&1 >/dev/null | tail -1
          done | median)
    echo "$name ${labels[$i]} $(printf "%.1f" "$ms") $(awk -v k="$kib" 'BEGIN { printf "%.1f", k / 1024 }') $cpu"
  done
}

if [ -z "${REPORT_ONLY:-}" ]; then
  echo "== Compiling the benchmark apps" >&2
  rm -rf "$work/classes"
  "$jdk/bin/javac" -nowarn -d "$work/classes" -cp "$(IFS=:; echo "${libs_jars[*]}")" \
    bench/apps/bench/*.java 2>/dev/null
  make_variants hello bench.Hello
  measure hello >"$work/hello.dat"
  make_variants libs bench.LibsApp
  "$jdk/bin/java" -Xlog:class+load=info -cp "$(echo "${commands[2]}" | awk '{ print $3 }')" bench.LibsApp |
    awk '/ source: / { n++; if (/guava|commons-lang3/) j++ }
         END { printf "%d classes, %d of them from the two jars", n, j }' >"$work/libs-classes.txt"
  measure libs >"$work/libs.dat"
  cat "$work/hello.dat" "$work/libs.dat" >"$work/all.dat"
  echo "Measured by \`bench/app_start.sh\` on $(date -u +%Y-%m-%d), $(nproc) cores," \
       "$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)," \
       "$("$jdk/bin/java" -version 2>&1 | head -1); $runs timed runs per variant (hyperfine," \
       "in $rounds rounds that take turns${NICE:+, at niceness $NICE}), peak memory as the median of" \
       "$memory_runs runs; load average $(cut -d' ' -f1-3 /proc/loadavg) at the end." >"$work/setup.txt"
fi

# The table, the ratios and the targets.
{
  echo "# Start-up: Vorlane against \`java -cp\` and a default \`jpackage\` image"
  echo
  cat "$work/setup.txt"
  echo "The libraries app loads $(cat "$work/libs-classes.txt")."
  echo
  echo "| app | variant | median wall time | peak memory (RSS) | CPU time (user + system, mean) |"
  echo "|---|---|---:|---:|---:|"
  awk '{
    split("(a) vorlane-pack app|(b) vorlane-pack app --app-cds|(c) java -cp|(d) jpackage app image", names, "|")
    v = index("abcd", $2)
    printf "| %s | %s | %s ms | %s MB | %s ms |\n", ($1 == "hello" ? "hello world" : "Guava + Commons Lang"), names[v], $3, $4, $5
  }' "$work/all.dat"
  echo
  echo "| app | a/c | a/d | b/c | b/d |"
  echo "|---|---:|---:|---:|---:|"
  awk '
    { t["wall", $1, $2] = $3; t["cpu", $1, $2] = $5 }
    function cell(kind, app, x, y, target,   r, mark) {
      r = t[kind, app, x] / t[kind, app, y]
      mark = target == "" ? "" : (r <= target ? " (target <= " target ": met)" : " (target <= " target ": missed)")
      return sprintf("%.3f%s", r, mark)
    }
    END {
      printf "| hello world | %s | %s | %s | %s |\n", cell("wall", "hello", "a", "c", 1.05),
             cell("wall", "hello", "a", "d", 0.3), cell("wall", "hello", "b", "c", ""), cell("wall", "hello", "b", "d", "")
      printf "| Guava + Commons Lang | %s | %s | %s | %s |\n", cell("wall", "libs", "a", "c", 1.05),
             cell("wall", "libs", "a", "d", ""), cell("wall", "libs", "b", "c", 0.75), cell("wall", "libs", "b", "d", 0.55)
      printf "| hello world, CPU time | %s | %s | %s | %s |\n", cell("cpu", "hello", "a", "c", ""),
             cell("cpu", "hello", "a", "d", ""), cell("cpu", "hello", "b", "c", ""), cell("cpu", "hello", "b", "d", "")
      printf "| Guava + Commons Lang, CPU time | %s | %s | %s | %s |\n", cell("cpu", "libs", "a", "c", ""),
             cell("cpu", "libs", "a", "d", ""), cell("cpu", "libs", "b", "c", ""), cell("cpu", "libs", "b", "d", "")
    }' "$work/all.dat"
  echo
  echo "The targets are on median wall time. Other work on the machine lengthens every"
  echo "start by about the same time, which pulls those ratios towards 1; the ratios of"
  echo "CPU time show the work each way does itself."
  echo
  echo "![Start-up time and peak memory](app-start.svg)"
} >"$results/app-start.md"

# The chart: one panel for time, one for memory; the apps side by side.
awk '{ v[$1, $2] = $3; m[$1, $2] = $4 }
  END {
    print "\"hello world\"", v["hello", "a"], v["hello", "b"], v["hello", "c"], v["hello", "d"], m["hello", "a"], m["hello", "b"], m["hello", "c"], m["hello", "d"]
    print "\"Guava + Commons Lang\"", v["libs", "a"], v["libs", "b"], v["libs", "c"], v["libs", "d"], m["libs", "a"], m["libs", "b"], m["libs", "c"], m["libs", "d"]
  }' "$work/all.dat" >"$work/chart.dat"
gnuplot <<EOF
set terminal svg size 1100,460 font "sans,12" background "white"
set output "$results/app-start.svg"
set multiplot layout 1,2 title "Start-up of the same jars (median of $runs runs; lower is better)"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set key below horizontal reverse Left width 1
set grid ytics
set yrange [0:*]
set offsets 0, 0, graph 0.1, 0
set xrange [-0.55:1.55]
set linetype 1 lc rgb "#1b7837"
set linetype 2 lc rgb "#5aae61"
set linetype 3 lc rgb "#9970ab"
set linetype 4 lc rgb "#c2a5cf"
set title "wall time (ms)"
plot "$work/chart.dat" using 2:xtic(1) title "(a) vorlane-pack app", \
     "" using 3 title "(b) ... --app-cds", \
     "" using 4 title "(c) java -cp", \
     "" using 5 title "(d) jpackage image", \
     "" using (\$0 - 0.3):2:(sprintf("%.0f", \$2)) with labels offset 0,0.6 notitle, \
     "" using (\$0 - 0.1):3:(sprintf("%.0f", \$3)) with labels offset 0,0.6 notitle, \
     "" using (\$0 + 0.1):4:(sprintf("%.0f", \$4)) with labels offset 0,0.6 notitle, \
     "" using (\$0 + 0.3):5:(sprintf("%.0f", \$5)) with labels offset 0,0.6 notitle
set title "peak memory (MB)"
plot "$work/chart.dat" using 6:xtic(1) title "(a) vorlane-pack app", \
     "" using 7 title "(b) ... --app-cds", \
     "" using 8 title "(c) java -cp", \
     "" using 9 title "(d) jpackage image", \
     "" using (\$0 - 0.3):6:(sprintf("%.0f", \$6)) with labels offset 0,0.6 notitle, \
     "" using (\$0 - 0.1):7:(sprintf("%.0f", \$7)) with labels offset 0,0.6 notitle, \
     "" using (\$0 + 0.1):8:(sprintf("%.0f", \$8)) with labels offset 0,0.6 notitle, \
     "" using (\$0 + 0.3):9:(sprintf("%.0f", \$9)) with labels offset 0,0.6 notitle
unset multiplot
EOF

cat "$results/app-start.md"
echo "== Chart: $results/app-start.svg" >&2
