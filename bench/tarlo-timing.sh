# Sourced by the benchmark scripts that time whole tarlo-query processes
# over the folder $data, best of several runs.
seconds() {  # seconds SQL OUT: one whole tarlo-query process
    local t0 t1
    t0=$(date +%s.%N)
    build/tarlo-query -C "$data" -e "$1" >"$2"
    t1=$(date +%s.%N)
    echo "$t0 $t1" | awk '{ print $2 - $1 }'
}
min() { echo "$1 $2" | awk '{ print ($1 == "-" || $2 < $1) ? $2 : $1 }'; }  # "-": none yet
