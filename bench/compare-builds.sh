#!/usr/bin/env bash
# Times this build's tarlo-query beside another build's (an earlier commit
# built elsewhere) on the same generated file, alternating runs so both see
# the same machine: best of five whole-process runs, in seconds, and the
# repeated GROUP BY in one process.
#   bench/compare-builds.sh OTHER_BUILD_DIR [ROWS]   (data in build/bench-data)
set -euo pipefail
cd "$(dirname "$0")/.."
other=${1:?usage: bench/compare-builds.sh OTHER_BUILD_DIR [ROWS]}
rows=${2:-1000000}
scripts/install-deps time >/dev/null
data=build/bench-data
mkdir -p "$data"
[ -s "$data/big.csv" ] && [ "$(wc -l < "$data/big.csv")" -eq $((rows + 1)) ] || build/bench-generate "$rows" "$data/big.csv" 0
[ -s "$data/left.csv" ] || build/bench-generate 100000 "$data/left.csv" 1
[ -s "$data/right.csv" ] || build/bench-generate 100000 "$data/right.csv" 2

queries=(
  "SELECT city, COUNT(*), AVG(score) FROM big#csv WHERE age > 30 GROUP BY city"
  "SELECT * FROM big#csv"
  "SELECT COUNT(*), SUM(l.age) FROM left#csv l JOIN right#csv r ON l.id = r.id"
  "SELECT COUNT(*) FROM big#csv WHERE name LIKE 'sato1%'"
  "SELECT SUM(score * 2 + age / 3 - 1) FROM big#csv"
  "SELECT count(*) FROM big#csv WHERE joined >= '2020-01-01'"
  "SELECT count(*) FROM big#csv WHERE Left(city, 1) = 'o'"
  "TRANSFORM Sum(score) SELECT city FROM big#csv GROUP BY city PIVOT age"
)
printf '%8s %8s %7s  %s\n' this other ratio query
for q in "${queries[@]}"; do
  best_this="" best_other=""
  for _ in 1 2 3 4 5; do
    for side in this other; do
      bin=build/tarlo-query; [ $side = other ] && bin=$other/tarlo-query
      t=$(/usr/bin/time -f '%e' "$bin" -C "$data" -e "$q" 2>&1 >/dev/null | tail -n 1)
      if [ $side = this ]; then
        if [ -z "$best_this" ] || awk "BEGIN{exit !($t < $best_this)}"; then best_this=$t; fi
      else
        if [ -z "$best_other" ] || awk "BEGIN{exit !($t < $best_other)}"; then best_other=$t; fi
      fi
    done
  done
  printf '%8s %8s %7s  %s\n' "$best_this" "$best_other" "$(awk "BEGIN{printf \"%.2f\", $best_this / $best_other}")" "$q"
done
echo "(ratio = this / other: above 1 means this build is slower)"
echo
for side in this other; do
  bin=build/bench-repeat; [ $side = other ] && bin=$other/bench-repeat
  echo "$side: the GROUP BY twice in one process:"
  "$bin" "$data" "${queries[0]}" 2
done
