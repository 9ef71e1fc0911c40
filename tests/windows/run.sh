#!/usr/bin/env bash
# The Windows build under Wine:
#   1. the headless core's test suites, as Windows programs (through ctest);
#   2. tarlo-query.exe beside the Linux tarlo-query on the same folder, CP932
#      and UTF-8 files, every output format: the same bytes;
#   3. tarlo.exe in Xvfb, driven with real X input: the window, its place
#      and smallest size, the task bar's button, the single instance,
#      minimising with the popup, a tab, "！", the result through the
#      clipboard against tarlo-query.exe, a timestamped copy saved;
#   4. what the executables carry (the beep's import, resources);
#   5. tarlo.exe on a schema.ini folder, at four display densities, and
#      tarlo-query.exe against tarlo-query on the CP932 corpus files.
#   tests/windows/run.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR
# SECTIONS="3 5" runs only those (while working on one).
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
want() { [ -z "${SECTIONS:-}" ] || [[ " $SECTIONS " == *" $1 "* ]]; }

# 1. The core suites.
if want 1; then
if ctest --test-dir "$win" --output-on-failure -j"$(nproc)" >"$work/ctest.log" 2>&1; then
  pass "1 the core suites pass as Windows programs ($(grep -o '[0-9]* tests failed out of [0-9]*' "$work/ctest.log" | head -1))"
else
  # The failures' own output, run again alone, so a fault shows apart from a flake of the parallel run.
  fail "1 the core suites" "$(grep -A20 'The following tests FAILED' "$work/ctest.log")
$(ctest --test-dir "$win" --rerun-failed --output-on-failure 2>&1 | tail -40)"
fi
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
if want 2; then
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
fi

# 3. tarlo.exe in Xvfb.

# The probe reads tarlo.exe's windows as Windows has them: a line per window,
# role=app|main|popup|other visible= iconic= taskbar= x= y= w= h= frame= text=.
probe() { wine "$win/window_probe.exe" "$@" 2>/dev/null | tr -d '\r'; }
field() { probe list | grep "^role=$1 " | head -1 | sed -n "s/.* $2=\([^ ]*\).*/\1/p"; }
window_is() { probe list | grep -q "^role=$1 .*$2"; }
buttons() { probe list | grep ' taskbar=1 ' | sed 's/.* text=//'; }

main_window() {  # the X window of the main window: its outer size as Windows has it
  local w size
  size=$(probe list | sed -n 's/^role=main visible=1 .* w=\([0-9]*\) h=\([0-9]*\) .*/\1x\2/p' | head -1)
  [ -n "$size" ] || return 1
  for w in $(xdotool search --onlyvisible --class tarlo.exe 2>/dev/null); do
    xdotool getwindowgeometry "$w" | grep -q "Geometry: $size\$" && { echo "$w"; return 0; }
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

if want 3; then
if start_tarlo; then pass "3 tarlo.exe opens its window"; else fail "3 tarlo.exe opens its window" "$(tail -5 "$shots/tarlo.log")"; exit 1; fi
client_origin
check "3 the title bar is empty" [ -z "$(xdotool getwindowname "$win_id")" ]
check "3 the task bar shows one button, \"tarlo\"" [ "$(buttons)" = tarlo ]
check "3 ... the application window's, not the main window's" window_is app 'taskbar=1'
check "3 the window opens with its outer corner at (44,14)" window_is main 'visible=1 iconic=0 taskbar=0 x=44 y=14 '
check "3 ... its client area the designed 891 x 581" [ "$(($(field main w) - 2 * $(field main frame)))" -eq 891 ]
outer_w=$(field main w)
outer_h=$(field main h)
probe resize 600 400
check "3 the window is at least 700 x 550 outside, before it was ever moved" wait_for 5 window_is main 'x=44 y=14 w=700 h=550 '
windows_before=$(xdotool search --onlyvisible --class tarlo.exe | wc -l)
(cd "$folder" && timeout 30 wine tarlo.exe) >/dev/null 2>&1
second=$?
check "3 a second start ends with code 0" [ "$second" -eq 0 ]
check "3 ... showing nothing" [ "$(xdotool search --onlyvisible --class tarlo.exe | wc -l)" -eq "$windows_before" ]

probe resize "$outer_w" "$outer_h"
wait_for 10 window_is main "w=$outer_w h=$outer_h "

# A right click on the title bar minimises the program (WM_NCRBUTTONDOWN,
# HTCAPTION): Windows, not the window manager, draws a tool window's caption.
# The button stays; the main window leaves the screen with the popup.
# The window takes input once its first paint is done, which under a busy
# Wine can come after a second: a click that came too early is sent again.
right_click_minimises() {
  local try
  for try in 1 2 3; do
    sleep 1
    xdotool mousemove --window "$win_id" $((dx + 300)) $((dy / 2)) click 3
    wait_for 5 window_is app 'iconic=1' && return 0
  done
  return 1
}
check "3 a right click on the title bar minimises the program" right_click_minimises
check "3 ... the main window leaves the screen" wait_for 5 window_is main 'visible=0'
check "3 ... and the button stays, \"tarlo\"" [ "$(buttons)" = tarlo ]
probe restore
check "3 a click on the button brings the window back" wait_for 10 window_is main 'visible=1 iconic=0'
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
check "3 ... while the task bar still says \"tarlo\"" [ "$(buttons)" = tarlo ]

# The note popup goes with a minimised program and comes back where it stood.
# A tab with a caption shows it; one without hides it.
tab_with_popup() {
  local i
  for i in $(seq 0 $((tabs - 1))); do
    tab "$i"
    wait_for 2 window_is popup "visible=$1" && return 0
  done
  return 1
}
if tab_with_popup 1; then
  place=$(probe list | grep '^role=popup ' | grep -o 'x=[-0-9]* y=[-0-9]*')
  xdotool mousemove --window "$win_id" $((dx + 300)) $((dy / 2)) click 3
  wait_for 5 window_is app 'iconic=1'
  check "3 minimising takes the shown popup off the screen" wait_for 5 window_is popup 'visible=0'
  probe restore
  check "3 ... and restoring shows it again where it stood" wait_for 10 window_is popup "visible=1 .*$place "
  # The task bar's button minimises the shown program the same way.
  all_gone() { window_is app 'iconic=1' && window_is main 'visible=0' && window_is popup 'visible=0'; }
  probe minimize
  check "3 a click on the shown program's button minimises it, the popup too" wait_for 5 all_gone
  probe restore
  wait_for 10 window_is popup "visible=1 .*$place "
else
  fail "3 a tab with a caption shows the popup"
fi

# A move's end places a hidden popup by the window's outer bounds and the
# frame Windows reports; the smallest size holds after a move as before.
if tab_with_popup 0; then
  probe move 120 60
  wait_for 5 window_is main 'x=120 y=60 '
  mw=$(field main w); mh=$(field main h); frame=$(field main frame)
  # Qt moves a hidden window's native one when it shows it: the place is read then.
  if tab_with_popup 1 && window_is popup "visible=1 .*x=$((120 + mw - 230)) y=$((60 + mh - 98 - frame)) "; then
    pass "3 a hidden popup goes where the window's move puts it"
  else
    fail "3 a hidden popup goes where the window's move puts it" "$(probe list | grep -E '^role=(main|popup) ')"
  fi
  probe resize 600 400
  check "3 the window is at least 700 x 550 outside after a move" wait_for 5 window_is main 'x=120 y=60 w=700 h=550 '
  probe resize "$outer_w" "$outer_h"
  wait_for 10 window_is main "w=$outer_w h=$outer_h "
else
  fail "3 a tab without caption hides the popup"
fi

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
# When the window is gone before the keys' release is sent, xdotool stops
# there, and the window manager would close every window shown after it.
xdotool keyup alt F4 2>/dev/null
wait_for 15 sh -c "! xdotool search --onlyvisible --class tarlo.exe | grep -q ."
check "3 closing writes PRODUCTS.url" sh -c "grep -q '^URL=' '$folder/PRODUCTS.url'"
check "3 ... and ends the program" wait_for 30 sh -c "! kill -0 $tarlo_pid"
fi

# 4. What the executables carry: the beep's import, version, manifest and icon.
if want 4; then
objdump=x86_64-w64-mingw32-objdump
check "4 tarlo.exe beeps through Beep()" sh -c "$objdump -p '$folder/tarlo.exe' | grep -q -w Beep"
for exe in tarlo.exe tarlo-query.exe; do
  check "4 $exe carries its version and a manifest (long paths, DPI awareness)" \
    sh -c "strings -el '$folder/$exe' | grep -q '^Tarlo$' && grep -q longPathAware '$folder/$exe' && grep -q PerMonitorV2 '$folder/$exe'"
done
check "4 tarlo.exe carries the icon, the window's drawing" sh -c "$objdump -h '$folder/tarlo.exe' | grep -q rsrc && grep -q -a PNG '$folder/tarlo.exe'"
fi

# 5. tarlo.exe again, each start in a Wine session of its own (the one
#    before may still be ending its last program).
fresh_session() { wineserver -k 2>/dev/null; wineserver -w 2>/dev/null; }
# start_in FOLDER NAME: tarlo.exe from FOLDER, its output in NAME.log; true once its window shows.
start_in() {
  fresh_session
  (cd "$1" && exec wine tarlo.exe) >"$shots/$2.log" 2>&1 &
  tarlo_pid=$!
  pids+=($tarlo_pid)
  wait_for 60 window_is main 'visible=1' && wait_for 15 main_window && win_id=$(main_window) && return 0
  { echo "--- the windows"; probe list; xdotool search --class tarlo.exe | while read -r w; do xdotool getwindowgeometry "$w"; done; } >>"$shots/$2.log" 2>&1
  return 1
}
stop_tarlo() {
  kill "$tarlo_pid" 2>/dev/null
  fresh_session
  wait "$tarlo_pid" 2>/dev/null
}

if want 5; then

# A CP932 TAB-separated file whose schema.ini declares its columns: each run
# reads it on a thread of its own, which then ends.
codes=$work/codes
mkdir -p "$codes"
cp -r "$win/Tarlo/." "$codes/"
printf 'コード\t名称\t区分\r\nB02\t青\t2\r\nA01\t赤\t1\r\n' | iconv -f UTF-8 -t CP932 > "$codes/コード表.txt"
printf '[コード表.txt]\r\nFormat=TabDelimited\r\nColNameHeader=True\r\nCharacterSet=932\r\nCol1=コード Text\r\nCol2=名称 Text\r\nCol3=区分 Integer\r\n' \
  | iconv -f UTF-8 -t CP932 > "$codes/schema.ini"
printf 'SELECT コード FROM [コード表.txt] ORDER BY コード;\r\ncaption=コード表\r\n' | iconv -f UTF-8 -t CP932 > "$codes/q~コード.txt"
if start_in "$codes" tarlo-codes; then
  client_origin
  tab 0
  for _ in $(seq 30); do button run; sleep 0.3; done
  sleep 1
  button copy_result
  check "5 thirty runs over a schema.ini with ColN lines: tarlo.exe is still there" kill -0 "$tarlo_pid"
  check "5 ... with the rows" [ "$(clipboard)" = "$(printf 'A01\nB02')" ]
  shot windows-codes
  stop_tarlo
else
  fail "5 tarlo.exe opens on the schema.ini folder" "$(tail -5 "$shots/tarlo-codes.log")"
  stop_tarlo
fi

# Any display density: the window opens, its sizes in pixels.
for dpi in 96 120 144 192; do
  set_dpi "$dpi"
  if start_in "$folder" "tarlo-$dpi"; then
    sleep 2
    if kill -0 "$tarlo_pid" && [ "$(($(field main w) - 2 * $(field main frame)))" -eq 891 ]; then
      pass "5 tarlo.exe starts at $dpi DPI, 891 pixels wide inside"
    else
      fail "5 tarlo.exe starts at $dpi DPI, 891 pixels wide inside" "$(probe list | grep '^role=main')"
    fi
  else
    fail "5 tarlo.exe starts at $dpi DPI" "$(tail -5 "$shots/tarlo-$dpi.log")"
  fi
  stop_tarlo
done
set_dpi 96

# One CP932 table on both systems: every corpus file that is not UTF-8 reads
# the same, byte for byte (paths in messages aside, which Windows writes with
# "\"). One batch runs them all in one Wine session: a Wine start per file
# would take minutes.
corpora=$root/../shared/corpora
if [ -d "$corpora" ]; then
  one=$work/one
  mkdir -p "$one"
  cp "$folder/tarlo-query.exe" "$folder"/*.dll "$one/"
  n=0
  while IFS= read -r -d '' f; do
    [ "$(stat -c %s "$f")" -le 1000000 ] || continue
    iconv -f UTF-8 -t UTF-8 "$f" >/dev/null 2>&1 && continue
    n=$((n + 1))
    cp "$f" "$one/t$n.csv"
    echo "${f#"$corpora"/}" >>"$one/names"
    printf 'tarlo-query.exe -e "SELECT * FROM t%d#csv" >win%d.out 2>&1\r\n' "$n" "$n" >>"$one/all.bat"
    (cd "$one" && "$linux/tarlo-query" -e "SELECT * FROM t$n#csv" >"linux$n.out" 2>&1)
  done < <(find "$corpora" -type f \( -name '*.csv' -o -name '*.txt' -o -name '*.tsv' \) -print0 | sort -z)
  (cd "$one" && wine cmd /c all.bat >/dev/null 2>&1)
  differ=()
  for i in $(seq "$n"); do
    # A message names the file as Windows does (Wine's drive Z: is the
    # Linux root) and ends its line as Windows does.
    cmp -s <(perl -pe 'BEGIN { $w = shift; $l = shift } s/\Q$w\E/$l/g; s/\r\n\z/\n/ if eof' \
               "Z:${one//\//\\}\\" "$one/" "$one/win$i.out") "$one/linux$i.out" ||
      differ+=("$(sed -n "${i}p" "$one/names")")
  done
  check "5 tarlo-query.exe reads every corpus file that is not UTF-8 as tarlo-query does ($n files)" [ ${#differ[@]} -eq 0 ]
  [ ${#differ[@]} -eq 0 ] || printf '     differs: %s\n' "${differ[@]:0:20}"
else
  echo "skip 5 the corpus comparison: ../shared/corpora is absent"
fi
fi

summary windows
