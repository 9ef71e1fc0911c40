#!/usr/bin/env bash
# The shapes an office's saved queries have, on a folder of its own (sales
# with dates, store and product codes; store and product masters; details
# keyed 1:1 by sale), beside DuckDB as its users run it.
#   first: a whole process that reads the files and answers; DuckDB queries
#          the files directly and reads only the columns it needs;
#   again: the same statement once more on the loaded data (Tarlo's table
#          cache; DuckDB's tables made by CREATE TABLE ... AS).
# Best of RUNS (default 3), the two sides alternating; ratio = tarlo / duckdb.
# The row counts of both must agree.
#   [RUNS=N] [ONLY=name] bench/office.sh [ROWS]   (default 1000000; files in build/bench-data/office-ROWS)
# With TARLO_MEMORY_BOUND=BYTES below what the sales file needs, Tarlo reads it
# a piece at a time, as it reads a file larger than memory.
set -euo pipefail
cd "$(dirname "$0")/.."
rows=${1:-1000000}
runs=${RUNS:-3}
[ -x build/tarlo-query ] && [ -x build/bench-repeat ] || scripts/build tarlo-query bench-repeat >/dev/null

data=build/bench-data/office-$rows
mkdir -p "$data"
if [ ! -s "$data/details.csv" ]; then
    # 1,000 stores in 8 regions; 5,000 product codes with leading zeros; sales
    # over two years, ten store codes of which no master knows.
    awk 'BEGIN { print "store,region,store_name"; for (i = 1; i <= 1000; i++) printf "%d,R%d,Store %d\n", i, i % 8, i }' >"$data/stores.csv"
    awk 'BEGIN { print "product,category,price"; for (i = 1; i <= 5000; i++) printf "%05d,C%02d,%d\n", i, i % 40, 100 + i % 900 }' >"$data/products.csv"
    awk -v n="$rows" -v sales="$data/sales.csv" -v details="$data/details.csv" 'BEGIN {
        srand(11)
        print "id,sold_on,store,product,qty,amount" >sales
        print "id,channel,cost" >details
        for (i = 1; i <= n; i++) {
            q = 1 + int(rand() * 9)
            printf "%d,%d/%02d/%02d,%d,%05d,%d,%d\n", i, 2023 + int(rand() * 2), 1 + int(rand() * 12), 1 + int(rand() * 28),
                   1 + int(rand() * 1010), 1 + int(rand() * 5000), q, q * (100 + int(rand() * 900)) >sales
            printf "%d,%s,%d\n", i, rand() < 0.3 ? "web" : "shop", int(rand() * 500) >details
        }
    }'
fi

# name | Tarlo's statement | DuckDB's, its tables as {S} {ST} {P} {D}
shapes=(
"monthly-format|SELECT Format(sold_on, 'yyyy/mm') AS ym, Count(*) AS n, Sum(amount) AS amount FROM sales#csv GROUP BY Format(sold_on, 'yyyy/mm')|SELECT strftime(sold_on, '%Y/%m') AS ym, count(*), sum(amount) FROM {S} GROUP BY ym"
"by-month|SELECT Month(sold_on) AS m, Count(*) AS n, Sum(amount) AS amount FROM sales#csv GROUP BY Month(sold_on)|SELECT month(sold_on) AS m, count(*), sum(amount) FROM {S} GROUP BY m"
"date-range|SELECT store, Sum(amount) AS amount FROM sales#csv WHERE sold_on >= #2024/07/01# GROUP BY store|SELECT store, sum(amount) FROM {S} WHERE sold_on >= DATE '2024-07-01' GROUP BY store"
"year-and-month|SELECT store, Sum(amount) AS amount FROM sales#csv WHERE Year(sold_on) = 2024 AND Month(sold_on) IN (1, 2, 3) GROUP BY store|SELECT store, sum(amount) FROM {S} WHERE year(sold_on) = 2024 AND month(sold_on) IN (1, 2, 3) GROUP BY store"
"iif-and-left|SELECT IIf(amount >= 5000, 'large', 'small') AS size, Left(product, 3) AS family, Count(*) AS n, Sum(amount) AS amount FROM sales#csv GROUP BY IIf(amount >= 5000, 'large', 'small'), Left(product, 3)|SELECT CASE WHEN amount >= 5000 THEN 'large' ELSE 'small' END AS size, left(product, 3) AS family, count(*), sum(amount) FROM {S} GROUP BY size, family"
"master-join|SELECT st.region, Count(*) AS n, Sum(s.amount) AS amount FROM sales#csv s INNER JOIN stores#csv st ON s.store = st.store GROUP BY st.region|SELECT st.region, count(*), sum(s.amount) FROM {S} s JOIN {ST} st ON s.store = st.store GROUP BY st.region"
"three-tables|SELECT st.region, p.category, Count(*) AS n, Sum(s.amount) AS amount FROM (sales#csv s INNER JOIN stores#csv st ON s.store = st.store) INNER JOIN products#csv p ON s.product = p.product GROUP BY st.region, p.category|SELECT st.region, p.category, count(*), sum(s.amount) FROM {S} s JOIN {ST} st ON s.store = st.store JOIN {P} p ON s.product = p.product GROUP BY st.region, p.category"
"monthly-by-region|SELECT st.region, Format(s.sold_on, 'yyyy/mm') AS ym, Sum(s.amount) AS amount FROM sales#csv s INNER JOIN stores#csv st ON s.store = st.store GROUP BY st.region, Format(s.sold_on, 'yyyy/mm')|SELECT st.region, strftime(s.sold_on, '%Y/%m') AS ym, sum(s.amount) FROM {S} s JOIN {ST} st ON s.store = st.store GROUP BY st.region, ym"
"one-to-one|SELECT d.channel, Count(*) AS n, Sum(s.amount) AS amount, Sum(d.cost) AS cost FROM sales#csv s INNER JOIN details#csv d ON s.id = d.id GROUP BY d.channel|SELECT d.channel, count(*), sum(s.amount), sum(d.cost) FROM {S} s JOIN {D} d ON s.id = d.id GROUP BY d.channel"
"no-master|SELECT s.store, Count(*) AS n FROM sales#csv s LEFT JOIN stores#csv st ON s.store = st.store WHERE st.region Is Null GROUP BY s.store|SELECT s.store, count(*) FROM {S} s LEFT JOIN {ST} st ON s.store = st.store WHERE st.region IS NULL GROUP BY s.store"
"crosstab|TRANSFORM Sum(s.amount) SELECT st.region FROM (sales#csv s INNER JOIN stores#csv st ON s.store = st.store) INNER JOIN products#csv p ON s.product = p.product GROUP BY st.region PIVOT Format(s.sold_on, 'mm')|PIVOT (SELECT st.region, strftime(s.sold_on, '%m') AS m, s.amount FROM {S} s JOIN {ST} st ON s.store = st.store JOIN {P} p ON s.product = p.product) ON m USING sum(amount) GROUP BY region"
"count-distinct|SELECT Count(DISTINCT product) AS products FROM sales#csv|SELECT count(DISTINCT product) FROM {S}"
"top-3-per-store|SELECT store, amount, rn FROM (SELECT store, amount, ROW_NUMBER() OVER (PARTITION BY store ORDER BY amount DESC) AS rn FROM sales#csv) AS t WHERE rn <= 3|SELECT store, amount, rn FROM (SELECT store, amount, row_number() OVER (PARTITION BY store ORDER BY amount DESC) AS rn FROM {S}) WHERE rn <= 3"
"sorted|SELECT id, amount FROM sales#csv ORDER BY amount DESC, id|SELECT id, amount FROM {S} ORDER BY amount DESC, id"
)

. bench/duckdb-peer.sh
cat >"$duck/office.mjs" <<'JS'
import { DuckDBInstance } from '@duckdb/node-api';
const [dir, mode, sql] = process.argv.slice(2);
const db = await DuckDBInstance.create(':memory:', { threads: '2' });
const c = await db.connect();
const files = { S: 'sales', ST: 'stores', P: 'products', D: 'details' };
// Product codes are text: their leading zeros are part of them.
const reader = (t) => `read_csv('${dir}/${files[t]}.csv', dateformat = '%Y/%m/%d'` +
  (t === 'S' || t === 'P' ? `, types = {'product': 'VARCHAR'})` : ')');
let text = sql;
if (mode === 'again') {
  for (const t of Object.keys(files)) if (sql.includes(`{${t}}`)) await c.run(`CREATE TABLE ${t} AS SELECT * FROM ${reader(t)}`);
  for (const t of Object.keys(files)) text = text.replaceAll(`{${t}}`, t);
  await c.runAndReadAll(text);
} else {
  for (const t of Object.keys(files)) text = text.replaceAll(`{${t}}`, reader(t));
}
const t0 = performance.now();
const r = await c.runAndReadAll(text);
console.log(`${((performance.now() - t0) / 1000).toFixed(3)} ${r.currentRowCount}`);
JS

. bench/tarlo-timing.sh
again() {  # the best repeated run in one process
    build/bench-repeat "$data" "$1" 3 | awk 'NR > 1 { s = $3 + 0; if (best == "" || s < best) best = s } END { print best }'
}
ratio() { [ "$2" = - ] && echo - || echo "$1 $2" | awk '{ printf "%.2f", $1 / $2 }'; }

echo "data: $rows sales rows, 1000 stores, 5000 products, $rows details; best of $runs, alternating; ratio = tarlo / duckdb"
printf '%-18s %8s %8s %6s   %8s %8s %6s   %s\n' shape first duckdb ratio again duckdb ratio rows
for shape in "${shapes[@]}"; do
    IFS='|' read -r name sql peer <<<"$shape"
    [ -n "${ONLY:-}" ] && [ "$ONLY" != "$name" ] && continue
    tf=- ta=- df=- da=- dn=-
    for _ in $(seq "$runs"); do
        tf=$(min "$tf" "$(seconds "$sql" "$data/office.out")")
        ta=$(min "$ta" "$(again "$sql")")
        if [ -d "$duck/node_modules/@duckdb/node-api" ]; then
            if out=$(node "$duck/office.mjs" "$PWD/$data" first "$peer" 2>&1); then read -r s dn <<<"$out"; df=$(min "$df" "$s"); fi
            if out=$(node "$duck/office.mjs" "$PWD/$data" again "$peer" 2>&1); then read -r s _ <<<"$out"; da=$(min "$da" "$s"); fi
        fi
    done
    n=$(wc -l <"$data/office.out")
    [ "$dn" = - ] || [ "$n" = "$dn" ] || echo "$name: $n rows here, $dn in DuckDB" >&2
    printf '%-18s %8.3f %8s %6s   %8.3f %8s %6s   %s\n' "$name" "$tf" "$df" "$(ratio "$tf" "$df")" "$ta" "$da" "$(ratio "$ta" "$da")" "$n"
done
