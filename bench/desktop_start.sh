#!/usr/bin/env bash
# What the launcher's desktop work costs at start-up: the same hello world
# app packed with the launcher template of BEFORE (default 7784aac, the
# launcher before the failure dialog, crash logs, the user's options file and
# the scale from Xft.dpi) and with this tree's template, against `java -cp`,
# each with a display (an Xvfb of the script's own, with Xft.dpi set, so the
# launcher reads the X resources) and with none, measured side by side in
# one run. Writes the median wall times and the ratios after/before and
# against `java -cp` to RESULTS/desktop-start.md. No assertion: the figures
# are for reading.
#
# Environment: BEFORE (a commit), RUNS (timed runs per variant, default 30),
# ROUNDS (default 3), RESULTS (default bench/results), NICE (as in
# bench/app_start.sh). A quick and noisy pass: RUNS=6 ROUNDS=2.
set -euo pipefail
cd "$(dirname "$0")/.."
before=${BEFORE:-7784aac}
# Named before the results file is written, which would make the tree dirty.
after_rev=$(git describe --always --dirty)
runs=${RUNS:-30}
rounds=${ROUNDS:-3}
results=${RESULTS:-bench/results}
nice_prefix=()
[ -z "${NICE:-}" ] || nice_prefix=(nice -n "$NICE")
work=$PWD/build/bench/desktop-start

cmake --build --preset default -j2 --target vorlane-pack launcher vorlane_launcher_jar >/dev/null
pack=$PWD/build/vorlane-pack
system_jdk=$(dirname "$(dirname "$(readlink -f "$(command -v javac)")")")
mkdir -p "$work" "$results"

# BEFORE's template and its Java launcher class, built from its own sources (the same presets and Debian
# 11 C library the current one uses).
old=$work/before-$before
if [ ! -x "$old/build/launcher" ] || [ ! -f "$old/build/vorlane-launcher.jar" ]; then
  echo "== Building the launcher template of $before" >&2
  rm -rf "$old"
  mkdir -p "$old"
  git archive "$before" | tar -x -C "$old"
  ln -s "$PWD/.cache" "$old/.cache"
  launcher_cmake=()
  ! command -v ccache >/dev/null || launcher_cmake=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  (cd "$old" && cmake --preset default "${launcher_cmake[@]}" >/dev/null &&
    cmake --build build -j2 --target launcher vorlane_launcher_jar >/dev/null)
fi

echo "== Packing the hello world app with each template" >&2
rm -rf "$work/classes" "$work/in" "$work/apps"
"$system_jdk/bin/javac" -nowarn --release 17 -d "$work/classes" bench/apps/bench/Hello.java
mkdir -p "$work/in"
"$system_jdk/bin/jar" cf "$work/in/hello.jar" -C "$work/classes" bench
for which in before after; do
  template=$PWD/build/launcher
  [ "$which" = after ] || template=$old/build/launcher
  JAVA_HOME=$system_jdk "$pack" app --quiet --name hello --input "$work/in" --main-jar hello.jar \
    --main-class bench.Hello --dest "$work/apps/$which" --template "$template" --jdk "$system_jdk"
done
java_cp="$system_jdk/bin/java -cp $work/in/hello.jar bench.Hello"

# A display of the script's own, with the resource a high-density desktop
# sets. Xvfb picks a free number and writes it once it listens; -noreset, as
# a desktop's server never resets: without it, Xvfb starts over each time
# its last client leaves, drops the resources and keeps the next one waiting.
coproc XVFB { exec Xvfb -displayfd 1 -noreset -nolisten tcp -screen 0 1024x768x24 2>/dev/null; }
trap 'kill "$XVFB_PID" 2>/dev/null || true' EXIT
read -r -t 60 number <&"${XVFB[0]}" || { echo "Xvfb did not start" >&2; exit 1; }
display=:$number
DISPLAY=$display xprop -root -f RESOURCE_MANAGER 8s -set RESOURCE_MANAGER "$(printf 'Xft.dpi:\t144\n')"
# The launcher must see them, or the display costs it nothing to measure.
DISPLAY=$display VORLANE_DUMP_JVM_ARGS=1 "$work/apps/after/hello/bin/hello" 2>&1 >/dev/null |
  grep -q -- '-Dvorlane.uiScale=1.5' || { echo "the launcher did not read Xft.dpi" >&2; exit 1; }

labels=(before after java)
commands=("$work/apps/before/hello/bin/hello" "$work/apps/after/hello/bin/hello" "$java_cp")
expected=$($java_cp)
for c in "${commands[@]}"; do
  [ "$($c)" = "$expected" ] || { echo "'$c' printed something else than java -cp" >&2; exit 1; }
done

# median: the middle of the numbers on standard input.
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

: >"$work/all.dat"
per_round=$(((runs + rounds - 1) / rounds))
for screen in display none; do
  echo "== Timing with $screen: $((per_round * rounds)) runs each in $rounds rounds" >&2
  rm -f "$work/$screen"-round-*.json
  for round in $(seq 0 $((rounds - 1))); do
    order=()
    for i in 0 1 2; do
      k=$(((i + round) % 3))
      # env sets or removes DISPLAY for the launch alone; hyperfine runs it without a shell.
      if [ "$screen" = display ]; then
        order+=(-n "${labels[$k]}" "env DISPLAY=$display ${commands[$k]}")
      else
        order+=(-n "${labels[$k]}" "env -u DISPLAY -u WAYLAND_DISPLAY ${commands[$k]}")
      fi
    done
    "${nice_prefix[@]}" hyperfine -N --style basic --warmup $((round == 0 ? 5 : 2)) --runs "$per_round" \
      --export-json "$work/$screen-round-$round.json" "${order[@]}" >/dev/null
  done
  # Every run's time, and each round's mean user and system time, by variant.
  awk '
    /"command":/ { gsub(/[",]/, "", $2); command = $2 }
    /"user":/ { gsub(/,/, "", $2); user = $2 }
    /"system":/ { gsub(/,/, "", $2); print "cpu", command, (user + $2) * 1000 }
    /"times": \[/ { in_times = 1; next }
    in_times && /\]/ { in_times = 0 }
    in_times { gsub(/,/, "", $1); print "time", command, $1 * 1000 }
  ' "$work/$screen"-round-*.json >"$work/$screen-runs.txt"
  for label in "${labels[@]}"; do
    echo "$screen $label" \
      "$(awk -v n="$label" '$1 == "time" && $2 == n { print $3 }' "$work/$screen-runs.txt" | median)" \
      "$(awk -v n="$label" '$1 == "cpu" && $2 == n { s += $3; c++ } END { printf "%.1f", s / c }' \
           "$work/$screen-runs.txt")" >>"$work/all.dat"
  done
done

{
  echo "# Start-up with and without a display: the launcher before and after its desktop work"
  echo
  echo "Measured by \`bench/desktop_start.sh\` on $(date -u +%Y-%m-%d), $(nproc) cores;" \
       "$("$system_jdk/bin/java" -version 2>&1 | head -1); a hello world app packed with" \
       "the template of $before (before) and of $after_rev (after)," \
       "against \`java -cp\`; $((per_round * rounds)) timed runs per variant (hyperfine," \
       "in $rounds rounds that take turns${NICE:+, at niceness $NICE}); the display is an" \
       "Xvfb with \`Xft.dpi: 144\`; load average $(cut -d' ' -f1-3 /proc/loadavg) at the end."
  echo
  echo "| display | measure | before | after | java -cp | after - before | after/before | before/java | after/java |"
  echo "|---|---|---:|---:|---:|---:|---:|---:|---:|"
  awk '{ t[$1, $2, "wall"] = $3; t[$1, $2, "cpu"] = $4
         if (!($1 in seen)) { seen[$1] = 1; order[++n] = $1 } }
    function row(s, k,   b, a, j) {
      b = t[s, "before", k]; a = t[s, "after", k]; j = t[s, "java", k]
      printf "| %s | %s | %.1f ms | %.1f ms | %.1f ms | %+.1f ms | %.3f | %.3f | %.3f |\n",
             (s == "display" ? "Xvfb, Xft.dpi 144" : "none"),
             (k == "wall" ? "median wall time" : "CPU time (user + system, mean)"),
             b, a, j, a - b, a / b, b / j, a / j
    }
    END { for (i = 1; i <= n; i++) { row(order[i], "wall"); row(order[i], "cpu") } }' "$work/all.dat"
  echo
  echo "Other work on the machine lengthens every start by about the same time, and"
  echo "on a busy machine by more than the launcher's own work: the spread between"
  echo "runs can be larger than the difference after - before. The CPU time shows"
  echo "the work each way does itself."
} >"$results/desktop-start.md"
cat "$results/desktop-start.md"
