#!/usr/bin/env bash
# The README's five-minute walk, as written, so that it cannot go stale: its
# ```sh blocks between <!-- walk --> and <!-- /walk --> run one after the
# other in one shell (under set -euo pipefail), in a scratch folder that is
# also HOME, with the installed vorlane-pack first on PATH. The walk serves
# its site on 127.0.0.1:8000; here every 8000 of the walk becomes a free
# port the test picks, and the test stops whatever the walk left running.
# Afterwards the install runs version 2 from versions/1.1-1 and keeps 1.0-1.
# Also: every relative link of README.md and docs/*.md, with its #anchor,
# names a file and a heading that exist.
#
#   walk_e2e.sh PREFIX SOURCE-DIR   (PREFIX: the installed project)
set -euo pipefail
prefix="$(cd "$1" && pwd)"
source_dir="$(cd "$2" && pwd)"
for tool in python3 javac jar openssl curl gpg apt-ftparchive; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is missing (scripts/install-deps)"; exit 0; }
done
failures=0
fail() { echo "FAILED: $*" >&2; failures=$((failures + 1)); }

# --- Links: FILE: TARGET for each relative link that names nothing.
broken="$(python3 - "$source_dir" <<'PY'
import pathlib, re, sys
root = pathlib.Path(sys.argv[1])
def anchors(md):  # the ids of a page's headings, as the forge makes them
    ids, fence = set(), False
    for line in md.read_text().splitlines():
        fence ^= line.startswith('```')
        if not fence and line.startswith('#'):
            text = line.lstrip('#').strip().lower()
            ids.add(re.sub(r'[^\w\- ]', '', text).replace(' ', '-'))
    return ids
for md in [root / 'README.md', *sorted((root / 'docs').glob('*.md'))]:
    for target in re.findall(r'\]\(([^)\s]+)\)', md.read_text()):
        if re.match(r'[a-z]+:', target):
            continue
        path, _, anchor = target.partition('#')
        dest = (md.parent / path).resolve() if path else md
        if not dest.exists() or (anchor and dest.suffix == '.md' and anchor not in anchors(dest)):
            print(f'{md.relative_to(root)}: {target}')
PY
)"
[ -z "$broken" ] || fail "links that name nothing:"$'\n'"$broken"

# --- The walk's blocks, one file each, on the test's port.
work="$(mktemp -d)"
cleanup() {
  local p
  for p in $(jobs -p); do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
port="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
blocks="$(python3 - "$source_dir/README.md" "$work/block" "$port" <<'PY'
import re, sys
text = open(sys.argv[1]).read()
walk = re.search(r'<!-- walk -->\n(.*?)<!-- /walk -->', text, re.S)
blocks = re.findall(r'^```sh\n(.*?)^```$', walk.group(1), re.S | re.M) if walk else []
for i, block in enumerate(blocks, 1):
    open(f'{sys.argv[2]}.{i}', 'w').write(block.replace('8000', sys.argv[3]))
print(len(blocks) if walk and '8000' in walk.group(1) else 0)
PY
)"
[ "$blocks" -gt 0 ] || { echo "FAILED: README.md has no walk of sh blocks on port 8000" >&2; exit 1; }

# --- Run it as a user would, with no proxy and none of this machine's homes.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
unset XDG_CONFIG_HOME XDG_STATE_HOME XDG_DATA_HOME XDG_CACHE_HOME XDG_RUNTIME_DIR SOURCE_DATE_EPOCH
export no_proxy=127.0.0.1 HOME="$work/home" PATH="$prefix/bin:$PATH"
mkdir -p "$HOME" "$work/walk"
cd "$work/walk"
for i in $(seq "$blocks"); do
  echo "== walk block $i" >&2
  trap 'echo "FAILED: the walk stopped in block $i" >&2' ERR
  # shellcheck disable=SC1090  # the README's own text
  source "$work/block.$i" >"$work/out.$i"
  trap - ERR
  cat "$work/out.$i"
  if grep -q 'http.server' "$work/block.$i"; then
    # The walk goes on at once; here its next request waits, bounded, for the server.
    curl -sf --noproxy '*' --retry-connrefused --retry 60 --retry-delay 1 --max-time 120 \
      "http://127.0.0.1:$port/" >/dev/null || fail "the walk's web server does not answer on $port"
  fi
done

# --- Where the walk ends: the update applied, the previous version kept.
expected=$'Hello from version 1\nUpdated to 1.1-1: start me again\nHello from version 2'
[ "$(cat "$work/out.$blocks")" = "$expected" ] || fail "the walk's last block printed: $(cat "$work/out.$blocks")"
[ "$(readlink "$HOME/apps/hello/bin/hello")" = ../versions/1.1-1/bin/hello ] ||
  fail "bin/hello is $(readlink "$HOME/apps/hello/bin/hello"), not version 1.1-1's"
[ -x "$HOME/apps/hello/versions/1.0-1/bin/hello" ] || fail "the update did not keep version 1.0-1"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "walk_e2e: all checks passed"
