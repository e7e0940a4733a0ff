# Sourced by the HTTP benchmarks: starts the optimised build's console on a
# free loopback port with a fresh data folder in $work, signs in, and sets
# $origin, $cookie and $console_pid (wrk and curl must be there). The caller makes
# $work and stops the console.
# TESSERA_BENCH_STORE: the store to serve (an empty postgresql://... database);
# the data folder's SQLite file without it.
start_signed_in_console() {
  for tool in wrk curl; do
    command -v "$tool" >/dev/null || { echo "$tool is missing" >&2; exit 2; }
  done
  TESSERA_ADMIN_PASSWORD=bench-password-1 build/release/bin/tessera-console serve --listen 127.0.0.1:0 \
    --data "$work/var" ${TESSERA_BENCH_STORE:+--store "$TESSERA_BENCH_STORE"} >"$work/out" 2>&1 &
  console_pid=$!
  for _ in $(seq 100); do grep -q "in a browser" "$work/out" 2>/dev/null && break; sleep 0.05; done
  origin=$(sed -n 's/.*open \(http:[^ ]*\)\/ in a browser.*/\1/p' "$work/out")
  cookie=$(curl -s -o /dev/null -D - -H "Origin: $origin" --data 'username=admin&password=bench-password-1' \
    "$origin/login" | sed -n 's/^Set-Cookie: \([^;]*\).*/\1/p')
}
