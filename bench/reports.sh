#!/usr/bin/env bash
# The report shapes saved queries hold, on one sales file: a monthly total by
# Format, a total by Month, a date range by store, a condition on a date
# (Year and Month), beside DuckDB querying the file directly. Each statement
# is a whole tarlo-query process, alternating with DuckDB's, best of RUNS
# (default 3); the row counts must agree.
#   [RUNS=N] bench/reports.sh [ROWS]   (default 1000000; the sales file of bench/joins.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
rows=${1:-1000000}
runs=${RUNS:-3}
data=build/bench-data/joins-$rows
[ -s "$data/sales.csv" ] || bench/joins.sh "$rows" >/dev/null  # makes the files
[ -x build/tarlo-query ] || scripts/build tarlo-query >/dev/null

names=(monthly-format by-month date-range year-and-month)
tarlo=(
    "SELECT Format(date, 'yyyy/mm') AS ym, Count(*) AS n, Sum(amount) AS amount FROM sales#csv GROUP BY Format(date, 'yyyy/mm')"
    "SELECT Month(date) AS m, Count(*) AS n, Sum(amount) AS amount FROM sales#csv GROUP BY Month(date)"
    "SELECT store, Sum(amount) AS amount FROM sales#csv WHERE date >= #2024/07/01# GROUP BY store"
    "SELECT store, Sum(amount) AS amount FROM sales#csv WHERE Year(date) = 2024 AND Month(date) IN (1, 2, 3) GROUP BY store"
)
# The same questions in DuckDB's dialect; its reader takes yyyy/mm/dd as a date.
duckdb=(
    "SELECT strftime(date, '%Y/%m') AS ym, count(*), sum(amount) FROM S GROUP BY ym"
    "SELECT month(date) AS m, count(*), sum(amount) FROM S GROUP BY m"
    "SELECT store, sum(amount) FROM S WHERE date >= DATE '2024-07-01' GROUP BY store"
    "SELECT store, sum(amount) FROM S WHERE year(date) = 2024 AND month(date) IN (1, 2, 3) GROUP BY store"
)

. bench/duckdb-peer.sh
cat > "$duck/reports.mjs" <<'JS'
import { DuckDBInstance } from '@duckdb/node-api';
const [file, sql] = process.argv.slice(2);
const db = await DuckDBInstance.create(':memory:', { threads: '2' });
const c = await db.connect();
const t0 = performance.now();
const r = await c.runAndReadAll(sql.replace('FROM S', `FROM read_csv('${file}', dateformat = '%Y/%m/%d')`));
console.log(`${((performance.now() - t0) / 1000).toFixed(3)} ${r.currentRowCount}`);
JS

. bench/tarlo-timing.sh

echo "data: $rows sales rows; best of $runs, alternating; ratio = tarlo / duckdb"
for i in "${!names[@]}"; do
    t=- d=- dn=-
    for _ in $(seq "$runs"); do
        t=$(min "$t" "$(seconds "${tarlo[$i]}" "$data/report.out")")
        if [ -d "$duck/node_modules/@duckdb/node-api" ] && out=$(node "$duck/reports.mjs" "$PWD/$data/sales.csv" "${duckdb[$i]}" 2>&1); then
            read -r s dn <<<"$out"
            d=$(min "$d" "$s")
        fi
    done
    n=$(wc -l <"$data/report.out")
    if [ "$d" = - ]; then
        printf '%-15s tarlo %.2f s (%d rows)   duckdb: not run\n' "${names[$i]}" "$t" "$n"
    else
        [ "$n" = "$dn" ] || echo "${names[$i]}: $n rows here, $dn in DuckDB" >&2
        printf '%-15s tarlo %.2f s   duckdb %.2f s   ratio %.2f   (%d rows)\n' "${names[$i]}" "$t" "$d" "$(echo "$t $d" | awk '{ print $1 / $2 }')" "$n"
    fi
done
