#!/usr/bin/env bash
# Times queries that lean on the old engine's operators and functions over
# the generated 1M-row file, beside the same work in SQLite's own terms:
# best of three whole-process runs of tarlo-query, in seconds.
#   bench/jet-functions.sh [ROWS]   (default 1000000; data in build/bench-data)
set -euo pipefail
cd "$(dirname "$0")/.."
rows=${1:-1000000}
scripts/install-deps time >/dev/null
scripts/build >/dev/null
data=build/bench-data
mkdir -p "$data"
[ -s "$data/big.csv" ] && [ "$(wc -l < "$data/big.csv")" -eq $((rows + 1)) ] || build/bench-generate "$rows" "$data/big.csv" 0
best() {
  local b=""
  for _ in 1 2 3; do
    local t
    t=$(/usr/bin/time -f '%e' build/tarlo-query -C "$data" -e "$1" 2>&1 >/dev/null | tail -n 1)
    if [ -z "$b" ] || awk "BEGIN{exit !($t < $b)}"; then b=$t; fi
  done
  printf '%6s  %s\n' "$b" "$1"
}
best "SELECT count(joined) FROM big#csv"
best "SELECT SUM(score * 2) FROM big#csv"
best "SELECT SUM(score * 2 + age / 3 - 1) FROM big#csv"
best "SELECT count(Year(joined)) FROM big#csv"
best "SELECT Format(joined, 'yyyymmdd') FROM big#csv"
best "SELECT * FROM big#csv ORDER BY score DESC LIMIT 10"
best "SELECT TOP 10 * FROM big#csv ORDER BY score DESC"
best "TRANSFORM Sum(score) SELECT city FROM big#csv GROUP BY city PIVOT age"
best "TRANSFORM Count(*) SELECT city FROM big#csv GROUP BY city PIVOT Year(joined)"
