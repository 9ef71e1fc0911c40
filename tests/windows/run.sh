#!/usr/bin/env bash
# The Windows build under Wine:
#   1. the headless core's test suites, as Windows programs (through ctest);
#   2. tarlo-query.exe beside the Linux tarlo-query on the same folder, CP932
#      and UTF-8 files, every output format: the same bytes;
#   3. tarlo.exe in Xvfb, driven with real X input: the window, the single
#      instance, a tab, "！", the result through the clipboard against
#      tarlo-query.exe, a timestamped copy saved, and a screenshot.
#   tests/windows/run.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
win=$(cd "${1:-$root/build-windows}" && pwd)
linux=$(cd "${2:-$root/build}" && pwd)
for tool in wine Xvfb openbox xdotool xclip import iconv; do
  command -v "$tool" >/dev/null || { echo "windows: $tool is not installed"; exit 1; }
done
. "$root/tests/e2e/harness.sh"
export WINEPREFIX=$win/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
shots=$win/e2e
mkdir -p "$shots"
work=$(mktemp -d /tmp/tarlo-windows.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wineserver -k 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# The display comes first: Wine's session, started by the first program,
# keeps the display it found for the programs after it.
start_desktop "$shots" windows
wineserver -k 2>/dev/null
[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
# The display density, where Wine 8 and earlier ones read it: 96 unless a
# check says otherwise (a run cut short may have left another in the prefix).
set_dpi() {
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  wine reg add 'HKCC\Software\Fonts' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
}
set_dpi 96

# 1. The core suites.
if ctest --test-dir "$win" --output-on-failure -j"$(nproc)" >"$work/ctest.log" 2>&1; then
  pass "1 the core suites pass as Windows programs ($(grep -o '[0-9]* tests failed out of [0-9]*' "$work/ctest.log" | head -1))"
else
  # The failures' own output, run again alone, so a fault shows apart from a flake of the parallel run.
  fail "1 the core suites" "$(grep -A20 'The following tests FAILED' "$work/ctest.log")
$(ctest --test-dir "$win" --rerun-failed --output-on-failure 2>&1 | tail -40)"
fi

# The folder a user makes: the programs next to the sample files; and a
# folder of CP932 files ("表" and "能" end in the byte of "\").
folder=$work/folder
mkdir -p "$folder" "$work/sjis"
cp -r "$win/Tarlo/." "$folder/"
cp -r "$root/sample/." "$folder/"
printf '都市,売上,日付\r\n東京,1200,2024/01/05\r\n大阪,800,2024/1/6\r\n名古屋,,2024-01-07\r\n表示,5,2024/01/08\r\n機能,3,2024/01/09\r\n' \
  | iconv -f UTF-8 -t CP932 > "$work/sjis/sjis.csv"
printf 'SELECT 都市, 売上 * 2 AS 倍, 日付 FROM sjis#csv WHERE 都市 <> '"'"'大阪'"'"' ORDER BY 日付;\r\n' \
  | iconv -f UTF-8 -t CP932 > "$work/sjis/q~sjis.txt"

# 2. tarlo-query.exe and tarlo-query: the same bytes for every query file and format.
winquery() { (cd "$folder" && wine tarlo-query.exe "$@" 2>&1); }
linuxquery() { (cd "$folder" && "$linux/tarlo-query" "$@" 2>&1); }
same=0
differ=()
for q in "$folder"/q~*.txt ../sjis/q~sjis.txt; do
  name=$(basename "$q")
  [ "$name" = q~sjis.txt ] && name="-C ../sjis -f ../sjis/$name" || name="-f $name"
  for args in "" "--header" "--format csv --encoding cp932" "--format json" "--format markdown"; do
    # shellcheck disable=SC2086
    if cmp -s <(winquery $args $name) <(linuxquery $args $name); then
      same=$((same + 1))
    else
      differ+=("$name $args")
    fi
  done
done
check "2 tarlo-query.exe writes what tarlo-query writes ($same runs)" [ ${#differ[@]} -eq 0 ]
[ ${#differ[@]} -eq 0 ] || printf '     differs: %s\n' "${differ[@]}"
check "2 ... a CP932 file is read as CP932" sh -c "cd '$work/sjis' && wine '$folder/tarlo-query.exe' -f 'q~sjis.txt' | grep -q '^機能	6	2024/01/09$'"
check "2 ... and a failure exits 1 with its message" sh -c "cd '$folder' && ! wine tarlo-query.exe -e 'SELECT nope FROM sales#csv' >/dev/null 2>&1"

# 3. tarlo.exe in Xvfb.

main_window() {  # the main window: the designed client size in a frame Windows draws
  local w
  for w in $(xdotool search --onlyvisible --class tarlo.exe 2>/dev/null); do
    xdotool getwindowgeometry "$w" | grep -q -E "Geometry: 89[0-9]x(58[0-9]|59[0-9]|60[0-9]|61[0-9])" && { echo "$w"; return 0; }
  done
  return 1
}
start_tarlo() {
  (cd "$folder" && exec wine tarlo.exe) >"$shots/tarlo.log" 2>&1 &
  tarlo_pid=$!
  pids+=($tarlo_pid)
  wait_for 60 main_window && win_id=$(main_window)
}
# The client area lies inside the frame Windows draws: as wide on each side
# as at the bottom, the title bar above.
client_origin() {
  local size w h
  size=$(xdotool getwindowgeometry "$win_id" | sed -n 's/.*Geometry: \([0-9]*\)x\([0-9]*\).*/\1 \2/p')
  read -r w h <<<"$size"
  dx=$(((w - 891) / 2))
  dy=$((h - 581 - dx))
}
click_at() { xdotool mousemove --window "$win_id" $((dx + $1)) $((dy + $2)) click 1; sleep 0.4; }
shot() { import -window root "$shots/$1.png" 2>/dev/null; }

if start_tarlo; then pass "3 tarlo.exe opens its window"; else fail "3 tarlo.exe opens its window" "$(tail -5 "$shots/tarlo.log")"; exit 1; fi
client_origin
check "3 the title bar is empty" [ -z "$(xdotool getwindowname "$win_id")" ]
windows_before=$(xdotool search --onlyvisible --class tarlo.exe | wc -l)
(cd "$folder" && timeout 30 wine tarlo.exe) >/dev/null 2>&1
second=$?
check "3 a second start ends with code 0" [ "$second" -eq 0 ]
check "3 ... showing nothing" [ "$(xdotool search --onlyvisible --class tarlo.exe | wc -l)" -eq "$windows_before" ]

# A right click on the title bar minimises the window (WM_NCRBUTTONDOWN,
# HTCAPTION): Windows, not the window manager, draws a tool window's caption.
state_is() { xprop -id "$win_id" WM_STATE | grep -q -i "$1"; }
# The window takes input once its first paint is done, which under a busy
# Wine can come after a second: a click that came too early is sent again.
right_click_minimises() {
  local try
  for try in 1 2 3; do
    sleep 1
    xdotool mousemove --window "$win_id" $((dx + 300)) $((dy / 2)) click 3
    wait_for 5 state_is iconic && return 0
  done
  return 1
}
activating_restores() {
  local try
  for try in 1 2 3; do
    xdotool windowactivate "$win_id" 2>/dev/null
    wait_for 5 state_is normal && return 0
  done
  return 1
}
check "3 a right click on the title bar minimises the window" right_click_minimises
activating_restores || fail "3 the minimised window comes back when activated"
sleep 0.5

# The query file a tab holds is told by the editor's text, whatever the tab order.
query_file_of_editor() {
  local f
  for f in "$folder"/q~*.txt; do
    [ "$(iconv -f CP932 -t UTF-8 "$f" 2>/dev/null || cat "$f")" != "" ] || continue
    if [ "$(tr -d '\r' <"$f" | sed -e '$a\')" = "$(clipboard | sed -e '$a\')" ] ||
       [ "$(iconv -f CP932 -t UTF-8 "$f" 2>/dev/null | tr -d '\r' | sed -e '$a\')" = "$(clipboard | sed -e '$a\')" ]; then
      basename "$f"
      return 0
    fi
  done
  return 1
}
checked=0
tabs=$(ls "$folder" | grep -c '^q~.*\.txt$')
for i in $(seq 0 $((tabs - 1))); do
  tab "$i"
  button copy_sql
  name=$(query_file_of_editor) || continue
  button run
  sleep 1
  button copy_result
  expected=$(winquery -f "$name" | sed -e '$a\')
  if [ "$(clipboard | sed -e '$a\')" = "$expected" ]; then checked=$((checked + 1)); else fail "3 tab $i ($name): the result pane holds what tarlo-query.exe prints"; fi
  [ "$name" = "q~商品.txt" ] && import -window "$win_id" "$shots/windows-run.png" 2>/dev/null
done
check "3 every tab's result, copied, is what tarlo-query.exe prints ($checked of $tabs tabs)" [ "$checked" -eq "$tabs" ]
check "3 the title names the fields" [ -n "$(xdotool getwindowname "$win_id")" ]

# A timestamped copy: a new query file with the editor's text.
before=$(ls "$folder" | grep -c '^q~')
button copy_sql
editor=$(clipboard | sed -e '$a\')
button save_copy
sleep 1
made=$(ls -t "$folder" | grep '^q~' | head -1)
check "3 別保存 writes a new query file" [ "$(ls "$folder" | grep -c '^q~')" -eq $((before + 1)) ]
check "3 ... named by the month, day and time" sh -c "echo '$made' | grep -q -E '_[A-Z][a-z]{2}[0-9]{2}_[0-9]{4}_[0-9]{2}\.txt$'"
saved=$({ iconv -f UTF-8 -t UTF-8 "$folder/$made" 2>/dev/null || iconv -f CP932 -t UTF-8 "$folder/$made"; } | tr -d '\r' | sed -e '$a\')
check "3 ... holding the editor's text" [ "$saved" = "$editor" ]
shot windows-saved

# Closing writes PRODUCTS.url through the profile call.
xdotool key --window "$win_id" alt+F4
wait_for 15 sh -c "! xdotool search --onlyvisible --class tarlo.exe | grep -q ."
check "3 closing writes PRODUCTS.url" sh -c "grep -q '^URL=' '$folder/PRODUCTS.url'"
check "3 ... and ends the program" wait_for 30 sh -c "! kill -0 $tarlo_pid"

# 4. What the executables carry: the beep's import, version, manifest and icon.
objdump=x86_64-w64-mingw32-objdump
check "4 tarlo.exe beeps through Beep()" sh -c "$objdump -p '$folder/tarlo.exe' | grep -q -w Beep"
for exe in tarlo.exe tarlo-query.exe; do
  check "4 $exe carries its version and a manifest (long paths, DPI awareness)" \
    sh -c "strings -el '$folder/$exe' | grep -q '^Tarlo$' && grep -q longPathAware '$folder/$exe' && grep -q PerMonitorV2 '$folder/$exe'"
done
check "4 tarlo.exe carries the icon, the window's drawing" sh -c "$objdump -h '$folder/tarlo.exe' | grep -q rsrc && grep -q -a PNG '$folder/tarlo.exe'"

summary windows
