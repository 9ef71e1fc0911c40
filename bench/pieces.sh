#!/usr/bin/env bash
# Files larger than memory: a sales file that Tarlo reads a piece at a time
# under a memory bound (TARLO_MEMORY_BOUND), beside DuckDB querying the same
# file directly as its users run it. First runs only (a whole process each),
# the two sides alternating; best of RUNS; ratio = tarlo / duckdb; the peak
# resident memory of each side.
#   [RUNS=N] [BOUND=BYTES] [ONLY=name] bench/pieces.sh [ROWS]
# Defaults: 10,000,000 rows (about 470 MB), a bound of 4 GB, one run. At
# 250,000,000 rows the file is about 12 GB.
set -euo pipefail
cd "$(dirname "$0")/.."
rows=${1:-10000000}
runs=${RUNS:-1}
bound=${BOUND:-4000000000}
[ -x build/tarlo-query ] || scripts/build tarlo-query >/dev/null

data=build/bench-data/pieces-$rows
mkdir -p "$data"
if [ ! -s "$data/sales.csv" ]; then
    awk 'BEGIN { print "store,region,store_name"; for (i = 1; i <= 1000; i++) printf "%d,R%d,Store %d\n", i, i % 8, i }' >"$data/stores.csv"
    awk -v n="$rows" 'BEGIN {
        srand(13)
        print "id,sold_on,store,product,qty,amount,memo"
        for (i = 1; i <= n; i++) {
            q = 1 + int(rand() * 9)
            printf "%d,%d/%02d/%02d,%d,%05d,%d,%d,note-%06d\n", i, 2023 + int(rand() * 2), 1 + int(rand() * 12),
                   1 + int(rand() * 28), 1 + int(rand() * 1010), 1 + int(rand() * 5000), q, q * (100 + int(rand() * 900)),
                   int(rand() * 1000000)
        }
    }' >"$data/sales.csv.part"
    mv "$data/sales.csv.part" "$data/sales.csv"
fi

# name | Tarlo's statement | DuckDB's, the sales file as {S} and the stores as {ST}
shapes=(
"sum-by-month|SELECT Format(sold_on, 'yyyy/mm') AS ym, Sum(amount) AS amount FROM sales#csv GROUP BY Format(sold_on, 'yyyy/mm')|SELECT strftime(sold_on, '%Y/%m') AS ym, sum(amount) FROM {S} GROUP BY ym"
"count-by-store|SELECT store, Count(*) AS n FROM sales#csv GROUP BY store|SELECT store, count(*) FROM {S} GROUP BY store"
"master-join|SELECT st.region, Count(*) AS n, Sum(s.amount) AS amount FROM sales#csv s INNER JOIN stores#csv st ON s.store = st.store GROUP BY st.region|SELECT st.region, count(*), sum(s.amount) FROM {S} s JOIN {ST} st ON s.store = st.store GROUP BY st.region"
"top-10|SELECT TOP 10 id, amount FROM sales#csv ORDER BY amount DESC, id|SELECT id, amount FROM {S} ORDER BY amount DESC, id LIMIT 10"
)

. bench/duckdb-peer.sh
cat >"$duck/pieces.mjs" <<'JS'
import { DuckDBInstance } from '@duckdb/node-api';
const [dir, sql] = process.argv.slice(2);
const db = await DuckDBInstance.create(':memory:', { threads: '2' });
const c = await db.connect();
const text = sql.replaceAll('{S}', `read_csv('${dir}/sales.csv', dateformat = '%Y/%m/%d', types = {'product': 'VARCHAR'})`)
                .replaceAll('{ST}', `read_csv('${dir}/stores.csv')`);
const t0 = performance.now();
const r = await c.runAndReadAll(text);
console.log(`${((performance.now() - t0) / 1000).toFixed(3)} ${r.currentRowCount}`);
JS

# "seconds peak-MB" of a whole process.
timed() {
    local out=$1; shift
    /usr/bin/time -f '%e %M' -o /tmp/tarlo-pieces-time "$@" >"$out"
    awk '{ printf "%.3f %.0f\n", $1, $2 / 1024 }' /tmp/tarlo-pieces-time
}
min() { echo "$1 $2" | awk '{ print ($1 == "-" || $2 < $1) ? $2 : $1 }'; }
ratio() { [ "$2" = - ] && echo - || echo "$1 $2" | awk '{ printf "%.2f", $1 / $2 }'; }

size=$(stat -c %s "$data/sales.csv")
echo "data: $rows sales rows ($((size / 1000000)) MB); Tarlo's memory bound $((bound / 1000000)) MB; best of $runs, alternating; ratio = tarlo / duckdb"
printf '%-15s %9s %9s %6s   %9s %9s   %s\n' shape tarlo duckdb ratio tarlo-MB duck-MB rows
for shape in "${shapes[@]}"; do
    IFS='|' read -r name sql peer <<<"$shape"
    [ -n "${ONLY:-}" ] && [ "$ONLY" != "$name" ] && continue
    tf=- df=- tm=- dm=- dn=-
    for _ in $(seq "$runs"); do
        read -r s m < <(TARLO_MEMORY_BOUND=$bound timed "$data/pieces.out" build/tarlo-query -C "$data" -e "$sql")
        tf=$(min "$tf" "$s"); tm=$m
        if [ -d "$duck/node_modules/@duckdb/node-api" ]; then
            read -r s m < <(timed "$data/duck.out" node "$duck/pieces.mjs" "$PWD/$data" "$peer")
            read -r ds dn <"$data/duck.out"
            df=$(min "$df" "$ds"); dm=$m
        fi
    done
    n=$(wc -l <"$data/pieces.out")
    [ "$dn" = - ] || [ "$n" = "$dn" ] || echo "$name: $n rows here, $dn in DuckDB" >&2
    printf '%-15s %9.3f %9s %6s   %9s %9s   %s\n' "$name" "$tf" "$df" "$(ratio "$tf" "$df")" "$tm" "$dm" "$n"
done
