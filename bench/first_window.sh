#!/usr/bin/env bash
# Time to the first window of desktop apps, from process start to the X
# server's MapNotify of their first top-level window (at least MIN_WIDTH
# wide, so a splash is passed over), under one Xvfb, taking turns between:
#   (l) bin/NAME of the tree `vorlane-pack app --app-cds` makes (no special
#       training mode: the training run ends at the first window);
#   (j) the tree's own runtime's `java -cp` with the same jars;
#   (h) on 25 and later, that `java -cp` with the JVM's own ahead-of-time
#       cache made by hand: -XX:AOTCacheOutput, ended by SIGTERM 3 s after
#       its window appeared.
# Apps: e2e/window_app (a frame and a label) and Debian's jEdit when
# installed. JDKs: the one of javac on PATH (17) and Temurin 25 when at
# /usr/lib/jvm/temurin-25-jdk-amd64. Writes RESULTS/first-window.md.
# Goals: l/j at most 0.9 on 17 and 0.8 on 25; l/h at most 1.
#
# Environment: RUNS (rounds, default 7), RESULTS (default bench/results).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${RUNS:-7}
results=${RESULTS:-bench/results}
work=build/bench/first-window

scripts/install-deps
cmake --preset default >/dev/null
cmake --build --preset default -j2 --target vorlane-pack launcher vorlane_launcher_jar >/dev/null
jdk17=$(dirname "$(dirname "$(readlink -f "$(command -v javac)")")")
jdks=("$jdk17")
[ -x /usr/lib/jvm/temurin-25-jdk-amd64/bin/jlink ] && jdks+=(/usr/lib/jvm/temurin-25-jdk-amd64)
rm -rf "$work"
mkdir -p "$work/window/in" "$work/classes" "$work/home" "$results"
work=$(cd "$work" && pwd)
export HOME=$work/home  # jEdit's settings

echo "== Building the window app and the map watcher" >&2
"$jdk17/bin/javac" -d "$work/classes" e2e/window_app/windowapp/WindowApp.java
"$jdk17/bin/jar" cf "$work/window/in/window-app.jar" -C "$work/classes" windowapp
g++ -O2 -o "$work/watch" bench/first_window/map_watch.cc -lX11
# name main-class main-jar min-width input
apps=("window windowapp.WindowApp window-app.jar 0 $work/window/in")
if [ -f /usr/share/jedit/jedit.jar ]; then
  mkdir -p "$work/jedit/in"
  for f in /usr/share/jedit/*; do
    [ "$(basename "$f")" = doc ] || cp -rL "$f" "$work/jedit/in/"
  done
  apps+=("jedit org.gjt.sp.jedit.jEdit jedit.jar 500 $work/jedit/in")
fi

exec {fd}<> <(:)
Xvfb -displayfd "$fd" -screen 0 1280x1024x24 -nolisten tcp 2>/dev/null &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
read -r -u "$fd" number
export DISPLAY=:$number

median() { sort -n | awk '{ v[NR] = $1 } END { if (NR) print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
rows=()
for jdk in "${jdks[@]}"; do
  release=$(sed -n 's/^JAVA_VERSION="\([^"]*\)"/\1/p' "$jdk/release")
  for row in "${apps[@]}"; do
    read -r name main jar width in <<<"$row"
    echo "== $name on $release" >&2
    dest=$work/trees/$release
    packed=$(build/vorlane-pack app --name "$name" --input "$in" --main-class "$main" \
      --main-jar "$jar" --template build/launcher --jdk "$jdk" --dest "$dest" --app-cds 2>&1)
    training=$(sed -n 's/.*training run: app archive of \([0-9.]* MB\).*(\([0-9.]* s\))$/\1, trained in \2/p' <<<"$packed")
    app=$dest/$name
    cp=$(find "$app/lib/app" -name '*.jar' | sort | tr '\n' ':')
    # shellcheck disable=SC2034 # l, j and h are read through the nameref below
    l=("$app/bin/$name")
    j=("$app/lib/runtime/bin/java" -cp "$cp" "$main")
    h=()
    if [ "${release%%.*}" -ge 25 ]; then
      "$work/watch" 3000 "$width" "${j[@]:0:1}" -XX:AOTCacheOutput="$work/hand.aot" "${j[@]:1}" \
        >/dev/null 2>&1 || true
      [ -s "$work/hand.aot" ] && h=("${j[@]:0:1}" -XX:AOTCache="$work/hand.aot" "${j[@]:1}")
    fi
    : >"$work/runs.txt"
    for i in $(seq "$runs"); do
      ways=(l j)
      [ ${#h[@]} -gt 0 ] && ways+=(h)
      # Each round starts with another way.
      for k in $(seq 0 $((${#ways[@]} - 1))); do
        way=${ways[$(((i + k) % ${#ways[@]}))]}
        declare -n cmd=$way
        echo "$way $("$work/watch" 0 "$width" "${cmd[@]}" 2>/dev/null || echo -)" >>"$work/runs.txt"
      done
    done
    med() { awk -v w="$1" '$1 == w && $2 != "-" { print $2 }' "$work/runs.txt" | median; }
    ml=$(med l) mj=$(med j) mh=$(med h)
    rows+=("| $name | $release | $ml ms | $mj ms | ${mh:+$mh ms} | $(ratio "$ml" "$mj") | ${mh:+$(ratio "$ml" "$mh")} | ${training:-no archive} |")
    rm -f "$work/hand.aot"
  done
done
{
  echo "# Time to the first window: bin/NAME with its archive against \`java -cp\`"
  echo
  echo "Measured by \`bench/first_window.sh\` on $(date -u +%Y-%m-%d), $(nproc) cores," \
       "$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1), under Xvfb;" \
       "medians of $runs rounds taking turns; load average $(cut -d' ' -f1-3 /proc/loadavg) at the" \
       "end. From the process's start to the MapNotify of the app's first top-level window" \
       "(jEdit: its main window, not its splash). (h) is the JVM's own cache made by hand on 25."
  echo
  echo "| app | runtime | (l) bin/NAME | (j) java -cp | (h) java -cp, own cache | l / j | l / h | app archive |"
  echo "|---|---|---:|---:|---:|---:|---:|---|"
  printf '%s\n' "${rows[@]}"
  echo
  echo "Goals: l / j at most 0.9 on 17 and 0.8 on 25; l / h at most 1."
} >"$results/first-window.md"
cat "$results/first-window.md"
