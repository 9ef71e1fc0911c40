#!/usr/bin/env bash
# Times tarlo-query beside its peers on the same generated files, in one run:
# the sqlite3 shell (.import, then the query), textql, and DuckDB through
# its node package when npm can install it. Prints each time and its ratio
# to tarlo-query, the repeated-run time in one process, and peak memory.
#   bench/run-peers.sh [ROWS]      (default 1000000; files go to build/bench-data)
set -euo pipefail
cd "$(dirname "$0")/.."
rows=${1:-1000000}
scripts/install-deps time sqlite3 >/dev/null
scripts/install-deps textql >/dev/null 2>&1 || echo "textql could not be installed: left out"
scripts/build >/dev/null

data=build/bench-data
mkdir -p "$data"
[ -s "$data/big.csv" ] && [ "$(wc -l < "$data/big.csv")" -eq $((rows + 1)) ] || build/bench-generate "$rows" "$data/big.csv" 0
[ -s "$data/left.csv" ] || build/bench-generate 100000 "$data/left.csv" 1
[ -s "$data/right.csv" ] || build/bench-generate 100000 "$data/right.csv" 2
echo "data: $(du -m "$data/big.csv" | cut -f1) MB, $rows rows (+ two files of 100000 rows for the join)"

. bench/duckdb-peer.sh
cat > "$duck/run.mjs" <<'JS'
import { DuckDBInstance } from '@duckdb/node-api';
const [sql, out] = process.argv.slice(2);
const db = await DuckDBInstance.create(':memory:');
const c = await db.connect();
const reader = await c.runAndReadAll(sql);
if (out === 'print') for (const r of reader.getRows()) process.stdout.write(r.join('\t') + '\n');
JS

declare -A sql_tarlo sql_sqlite sql_textql sql_duck
sql_tarlo[groupby]="SELECT city, COUNT(*), AVG(score) FROM big#csv WHERE age > 30 GROUP BY city"
sql_sqlite[groupby]="SELECT city, COUNT(*), AVG(score) FROM big WHERE CAST(age AS INTEGER) > 30 GROUP BY city"
sql_textql[groupby]="SELECT city, COUNT(*), AVG(score) FROM big WHERE CAST(age AS INTEGER) > 30 GROUP BY city"
sql_duck[groupby]="SELECT city, COUNT(*), AVG(score) FROM '$data/big.csv' WHERE age > 30 GROUP BY city"
sql_tarlo[select_all]="SELECT * FROM big#csv"
sql_sqlite[select_all]="SELECT * FROM big"
sql_textql[select_all]="SELECT * FROM big"
sql_duck[select_all]="SELECT * FROM '$data/big.csv'"
sql_tarlo[join]="SELECT COUNT(*), SUM(l.age) FROM left#csv l JOIN right#csv r ON l.id = r.id"
sql_sqlite[join]="SELECT COUNT(*), SUM(l.age) FROM l JOIN r ON l.id = r.id"
sql_textql[join]=""
sql_duck[join]="SELECT COUNT(*), SUM(l.age) FROM '$data/left.csv' l JOIN '$data/right.csv' r ON l.id = r.id"
sql_tarlo[like]="SELECT COUNT(*) FROM big#csv WHERE name LIKE 'sato1%'"
sql_sqlite[like]="SELECT COUNT(*) FROM big WHERE name LIKE 'sato1%'"
sql_textql[like]="SELECT COUNT(*) FROM big WHERE name LIKE 'sato1%'"
sql_duck[like]="SELECT COUNT(*) FROM '$data/big.csv' WHERE name ILIKE 'sato1%'"

# Whole-process wall time in seconds, best of three, output to /dev/null.
seconds() {
  local best=""
  for _ in 1 2 3; do
    local t
    /usr/bin/time -f "%e" -o "$data/time.txt" "$@" >/dev/null 2>&1 || true
    t=$(tail -n 1 "$data/time.txt")
    if [ -z "$best" ] || awk "BEGIN{exit !($t < $best)}"; then best=$t; fi
  done
  echo "$best"
}

printf '\n%-11s %10s %10s %8s %10s %8s %10s %8s\n' query tarlo sqlite3 ratio textql ratio duckdb ratio
for q in groupby select_all join like; do
  t_tarlo=$(seconds build/tarlo-query -C "$data" -e "${sql_tarlo[$q]}")
  if [ "$q" = join ]; then
    t_sqlite=$(seconds sqlite3 :memory: -cmd ".import --csv $data/left.csv l" -cmd ".import --csv $data/right.csv r" "${sql_sqlite[$q]}")
  else
    t_sqlite=$(seconds sqlite3 :memory: -cmd ".import --csv $data/big.csv big" "${sql_sqlite[$q]}")
  fi
  t_textql=-
  if command -v textql >/dev/null && [ -n "${sql_textql[$q]}" ]; then
    t_textql=$(seconds sh -c "cd $data && textql -header -sql \"${sql_textql[$q]}\" big.csv")
  fi
  t_duck=-
  if [ -d "$duck/node_modules/@duckdb/node-api" ]; then t_duck=$(seconds node "$duck/run.mjs" "${sql_duck[$q]}" print); fi
  ratio() { [ "$1" = - ] && echo - || awk "BEGIN{printf \"%.2f\", $1 / $t_tarlo}"; }
  printf '%-11s %10s %10s %8s %10s %8s %10s %8s\n' "$q" "$t_tarlo" "$t_sqlite" "$(ratio "$t_sqlite")" \
    "$t_textql" "$(ratio "$t_textql")" "$t_duck" "$(ratio "$t_duck")"
done
echo "(ratio = peer time / tarlo time: above 1 means tarlo is faster)"

echo
echo "the GROUP BY twice in one process (the second run finds the file parsed):"
build/bench-repeat "$data" "${sql_tarlo[groupby]}" 2
echo
/usr/bin/time -f "%M" -o "$data/time.txt" build/tarlo-query -C "$data" -e "${sql_tarlo[select_all]}" >/dev/null
peak=$(tail -n 1 "$data/time.txt")
echo "tarlo-query SELECT * peak memory: $((peak / 1024)) MB for a $(du -m "$data/big.csv" | cut -f1) MB file"
echo
echo "\"全＊\" into the result pane, offscreen (first run, then from the cache):"
build/bench-pane "$data" big.csv 2>/dev/null
