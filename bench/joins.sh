#!/usr/bin/env bash
# The three-table report (sales with its store and product masters) in the
# two ways saved queries write it: joins one after another, and the first
# join in brackets, beside DuckDB querying the files. Each form runs as a
# whole tarlo-query process, alternating with DuckDB, best of RUNS (default
# 3); both forms must give the same rows.
#   [RUNS=N] bench/joins.sh [ROWS]   (default 1000000; files go to build/bench-data/joins-ROWS)
set -euo pipefail
cd "$(dirname "$0")/.."
rows=${1:-1000000}
runs=${RUNS:-3}
[ -x build/tarlo-query ] || scripts/build tarlo-query >/dev/null

data=build/bench-data/joins-$rows
mkdir -p "$data"
if [ ! -s "$data/sales.csv" ]; then
    # 1,000 stores in 8 regions; 5,000 product codes written with leading zeros (00001 ...).
    awk 'BEGIN { print "store,region"; for (i = 1; i <= 1000; i++) printf "%d,R%d\n", i, i % 8 }' >"$data/stores.csv"
    awk 'BEGIN { print "product,category"; for (i = 1; i <= 5000; i++) printf "%05d,C%02d\n", i, i % 40 }' >"$data/products.csv"
    awk -v n="$rows" 'BEGIN {
        srand(7); print "date,store,product,qty,amount"
        for (i = 0; i < n; i++) {
            q = 1 + int(rand() * 9)
            printf "2024/%02d/%02d,%d,%05d,%d,%d\n", 1 + i % 12, 1 + i % 28, 1 + int(rand() * 1000),
                   1 + int(rand() * 5000), q, q * (100 + int(rand() * 900))
        }
    }' >"$data/sales.csv"
fi

select="SELECT st.region, p.category, Count(*) AS n, Sum(s.qty) AS qty, Sum(s.amount) AS amount"
plain="$select FROM sales#csv s INNER JOIN stores#csv st ON s.store = st.store INNER JOIN products#csv p ON s.product = p.product GROUP BY st.region, p.category"
nested="$select FROM (sales#csv s INNER JOIN stores#csv st ON s.store = st.store) INNER JOIN products#csv p ON s.product = p.product GROUP BY st.region, p.category"

# DuckDB as its users run it: the files queried directly, the product code
# read as text (its leading zeros are part of it), 2 threads.
. bench/duckdb-peer.sh
cat > "$duck/joins.mjs" <<'JS'
import { DuckDBInstance } from '@duckdb/node-api';
const [dir] = process.argv.slice(2);
const db = await DuckDBInstance.create(':memory:', { threads: '2' });
const c = await db.connect();
const t0 = performance.now();
const r = await c.runAndReadAll(`SELECT st.region, p.category, count(*) AS n, sum(s.qty) AS qty, sum(s.amount) AS amount
  FROM read_csv('${dir}/sales.csv', types = {'product': 'VARCHAR'}) s
  JOIN read_csv('${dir}/stores.csv') st ON s.store = st.store
  JOIN read_csv('${dir}/products.csv', types = {'product': 'VARCHAR'}) p ON s.product = p.product
  GROUP BY st.region, p.category`);
console.log(`${((performance.now() - t0) / 1000).toFixed(3)} ${r.currentRowCount}`);
JS

. bench/tarlo-timing.sh

echo "data: $rows sales rows, 1000 stores, 5000 products"
tp=- tn=- td=- dn=-
for _ in $(seq "$runs"); do  # alternating, best of each
    tp=$(min "$tp" "$(seconds "$plain" "$data/plain.out")")
    tn=$(min "$tn" "$(seconds "$nested" "$data/nested.out")")
    if [ -d "$duck/node_modules/@duckdb/node-api" ] && out=$(node "$duck/joins.mjs" "$PWD/$data" 2>&1); then
        read -r d dn <<<"$out"
        td=$(min "$td" "$d")
    fi
done
cmp -s "$data/plain.out" "$data/nested.out" || { echo "the two forms give different rows" >&2; exit 1; }
printf 'joins in a row:        %.2f s (%d rows)\n' "$tp" "$(wc -l <"$data/plain.out")"
printf 'first join bracketed:  %.2f s\n' "$tn"
if [ "$td" != - ]; then
    printf 'DuckDB, files queried: %.2f s (%s rows)\n' "$td" "$dn"
else
    echo "DuckDB: not run (its node package is not installed)"
fi
