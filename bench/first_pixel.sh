#!/usr/bin/env bash
# Time to first pixel: from process start to the splash screen on screen, and
# to the app's first window, for a small Swing app started two ways on the
# same runtime, taking turns in one run under one Xvfb:
#   (l) the app tree `vorlane-pack app` makes, with `-splash:&&/splash.png`
#       burned in: the launcher shows the splash before it creates the JVM;
#   (j) `java -splash:` of that tree's own runtime, with the same class path.
# Writes the medians and the ratios to RESULTS/first-pixel.md. Target: the
# launcher's splash in under 0.25x the time to its first window, and no later
# than java's.
#
# Environment: RUNS (runs per way, default 20), RESULTS (default bench/results).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${RUNS:-20}
results=${RESULTS:-bench/results}
work=build/bench/first-pixel

scripts/install-deps
cmake --preset default >/dev/null
cmake --build --preset default -j2 --target vorlane-pack launcher vorlane_launcher_jar >/dev/null
jdk=$(dirname "$(dirname "$(readlink -f "$(command -v javac)")")")
rm -rf "$work"
mkdir -p "$work/in" "$work/classes" "$results"
work=$(cd "$work" && pwd)

echo "== Building the app, the splash image and the pixel watcher" >&2
"$jdk/bin/javac" -d "$work/classes" bench/first_pixel/firstpixel/FirstPixel.java
"$jdk/bin/jar" cf "$work/in/firstpixel.jar" -C "$work/classes" firstpixel
# 320x200 in one colour, which the watcher looks for at the screen's centre.
convert -size 320x200 xc:'#ff00ff' "PNG24:$work/in/splash.png"
g++ -O2 -o "$work/watch" bench/first_pixel/watch.cc -lX11

echo "== vorlane-pack app" >&2
build/vorlane-pack app --name firstpixel --input "$work/in" --main-class firstpixel.FirstPixel \
  --template build/launcher --jdk "$jdk" --dest "$work/tree" --java-option '-splash:&&/splash.png' \
  --quiet
app=$work/tree/firstpixel
if [ ! -e "$app/lib/runtime/lib/libsplashscreen.so" ]; then
  echo "the runtime jlink made has no libsplashscreen.so" >&2
  exit 1
fi
launcher=("$app/bin/firstpixel")
java=("$app/lib/runtime/bin/java" -splash:"$app/lib/app/splash.png"
      -cp "$app/lib/app/firstpixel.jar:$app/lib/app/vorlane-launcher.jar" firstpixel.FirstPixel)

# A display of its own, for the whole run.
exec {fd}<> <(:)
Xvfb -displayfd "$fd" -screen 0 1024x768x24 -nolisten tcp 2>/dev/null &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
read -r -u "$fd" number
export DISPLAY=:$number

# watch NAME COMMAND...: one start, "NAME SPLASH_MS WINDOW_MS" ("-" when the
# splash never showed).
watch() {
  local name=$1
  shift
  echo "$name $("$work/watch" ff00ff 2080ff 4 4 "$@" 2>/dev/null)"
}
echo "== $runs starts each way, taking turns" >&2
watch warm "${launcher[@]}" >/dev/null
watch warm "${java[@]}" >/dev/null
for i in $(seq "$runs"); do
  if ((i % 2)); then
    watch l "${launcher[@]}"
    watch j "${java[@]}"
  else
    watch j "${java[@]}"
    watch l "${launcher[@]}"
  fi
done >"$work/runs.txt"

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
column() { awk -v n="$1" -v c="$2" '$1 == n && $c != "-" { print $c }' "$work/runs.txt" | median; }
missed() { awk -v n="$1" '$1 == n && $2 == "-" { m++ } END { print m + 0 }' "$work/runs.txt"; }
ls_=$(column l 2) lw=$(column l 3) js=$(column j 2) jw=$(column j 3)
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
verdict() { awk -v r="$1" -v t="$2" 'BEGIN { print (r < t) ? "met" : "missed" }'; }
r_lsplash=$(ratio "$ls_" "$lw")
r_jsplash=$(ratio "$js" "$jw")
r_splash=$(ratio "$ls_" "$js")
r_window=$(ratio "$lw" "$jw")
{
  echo "# Time to first pixel: the launcher's splash screen against \`java -splash:\`"
  echo
  echo "Measured by \`bench/first_pixel.sh\` on $(date -u +%Y-%m-%d), $(nproc) cores," \
       "$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)," \
       "$("$jdk/bin/java" -version 2>&1 | head -1), under Xvfb; $runs starts each way," \
       "taking turns, the runtime \`vorlane-pack app\` made for a small Swing app (a header, a tree" \
       "and a table of 200 rows), its default class-data archive; load average" \
       "$(cut -d' ' -f1-3 /proc/loadavg) at the end. Times from the process's start to the splash's" \
       "colour at the screen's centre and to the window's colour at its top-left, read every" \
       "millisecond or so."
  echo
  echo "| way | splash on screen (median) | first window (median) | splash / window | starts without a splash seen |"
  echo "|---|---:|---:|---:|---:|"
  echo "| (l) launcher, \`-splash:&&/splash.png\` burned in | $ls_ ms | $lw ms | $r_lsplash | $(missed l) |"
  echo "| (j) \`java -splash:\` | $js ms | $jw ms | $r_jsplash | $(missed j) |"
  echo
  echo "| ratio | value | target |"
  echo "|---|---:|---|"
  echo "| launcher splash / launcher first window | $r_lsplash | < 0.25: $(verdict "$r_lsplash" 0.25) |"
  echo "| launcher splash / \`java -splash:\` splash | $r_splash | <= 1: $(verdict "$r_splash" 1.0001) |"
  echo "| launcher first window / \`java -splash:\` first window | $r_window | |"
} >"$results/first-pixel.md"
cat "$results/first-pixel.md"
