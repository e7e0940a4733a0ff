#!/usr/bin/env bash
# tessera-console render of the settings page with a large approved list in
# the SQLite store: the save, then the page, each with its wall time and the
# process's peak memory. Usage: bench/render_large.sh [ENTRIES]  (default 1000000)
set -euo pipefail
cd "$(dirname "$0")/.."
entries="${1:-1000000}"
console="$PWD/build/release/bin/tessera-console"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 -c "import sys; n=int(sys.argv[1]); print(';'.join('host%d.example%d.com' % (i, i % 97) for i in range(n)))" \
  "$entries" >"$work/list.txt"
page=scan/WebThreat_Protection.htm
/usr/bin/time -f "save of $entries entries, then the page: %e s, peak %M KiB" \
  "$console" render --data "$work/var" --page "$page" --field FormAction=save \
  --field-file "stApprovedURL=$work/list.txt" --max-upload 1000000000 >/dev/null
/usr/bin/time -f "the page of $entries entries: %e s, peak %M KiB" \
  "$console" render --data "$work/var" --page "$page" >"$work/page.html"
echo "page: $(stat -c %s "$work/page.html") bytes"
