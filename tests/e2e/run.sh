#!/usr/bin/env bash
# End-to-end: the real tarlo under Xvfb with a window manager that draws
# frames (openbox), driven with real X input (xdotool), checked through
# the clipboard (xclip), the files it writes, and screenshots in build/e2e/.
#   tests/e2e/run.sh BUILD_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
shots=$build/e2e
for tool in Xvfb openbox xdotool xclip wmctrl import; do
  command -v "$tool" >/dev/null || { echo "e2e: $tool is not installed, skipping"; exit 77; }
done
. "$here/harness.sh"
. "$here/folder.sh"

work=$(mktemp -d /tmp/tarlo-e2e.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
  chmod -R u+w "$work" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

start_desktop "$shots" e2e
export XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM

folder=$work/folder
make_folder "$folder" "$build/bench-generate"
cp "$build/tarlo" "$folder/"
query() { "$build/tarlo-query" -C "$folder" "$@"; }

shot() { import -window root "$shots/$1.png" 2>/dev/null; }
mkdir -p "$shots"

main_window() {  # the main window: the one of the designed client size
  local w
  for w in $(xdotool search --onlyvisible --pid "$tarlo" 2>/dev/null); do
    xdotool getwindowgeometry "$w" | grep -q "Geometry: 891x581" && { echo "$w"; return 0; }
  done
  return 1
}
popup_window() {
  local w
  for w in $(xdotool search --onlyvisible --pid "$tarlo" 2>/dev/null); do
    xdotool getwindowgeometry "$w" | grep -q "Geometry: 342x116" && { echo "$w"; return 0; }
  done
  return 1
}
error_box() {  # any other window of the program: its error report
  local w
  for w in $(xdotool search --onlyvisible --pid "$tarlo" 2>/dev/null); do
    xdotool getwindowgeometry "$w" | grep -q -E "Geometry: (891x581|342x116)" || return 0
  done
  return 1
}
position() { xdotool getwindowgeometry "$1" | sed -n 's/.*Position: \([0-9-]*\),\([0-9-]*\).*/\1 \2/p'; }
click_at() { xdotool mousemove --window "$win" "$1" "$2" click "${3:-1}"; sleep 0.2; }
clipboard_is() { [ "$(clipboard)" = "$1" ]; }
title_is() { [ "$(xdotool getwindowname "$win")" = "$1" ]; }
lines_of() { "$@" | sed -e '$a\'; }

start_tarlo() {
  (cd "$folder" && exec ./tarlo) >/dev/null 2>&1 &
  tarlo=$!
  pids+=($tarlo)
  wait_for 15 main_window && win=$(main_window)
}

# 1. Start: the designed size, no tab selected, one instance only.
if start_tarlo; then pass "1 the window appears at its designed size"; else fail "1 the window appears"; exit 1; fi
button copy_sql
check "1 no tab is selected: the editor is empty" clipboard_is ""
check "1 the title bar is empty" title_is ""
check "1 ... and the task bar has the program's name" sh -c "xprop -id $win _NET_WM_ICON_NAME | grep -q '\"tarlo\"'"
check "1 the window carries an icon" sh -c "xprop -id $win _NET_WM_ICON | grep -q 'Icon (32 x 32)'"
(cd "$folder" && timeout 10 ./tarlo) >/dev/null 2>&1
second=$?
check "1 a second start exits with code 0" [ "$second" -eq 0 ]
check "1 ... and opens no window" [ "$(xdotool search --onlyvisible --pid "$tarlo" | wc -l)" -ge 1 ]
shot 1-start

# 2. A tab, "！", "上ｺﾋﾟ": the clipboard holds what tarlo-query prints.
tab 1
button run
button copy_result
expected=$(query -f "$folder/q~2ids.txt")
check "2 the clipboard holds the rows tarlo-query prints" wait_for 5 clipboard_is "$expected"
check "2 the title holds the field names" title_is "id qty"
shot 2-run

# 3. "全＊" on a 100k-row file.
tab 3
button all
button copy_result
expected=$(query -e "SELECT * FROM big.csv")
check "3 run-all on 100k rows matches tarlo-query" wait_for 20 clipboard_is "$expected"
check "3 the title" title_is "$(query --header -e 'SELECT * FROM big.csv LIMIT 0' | tr '\t' ' ')"
shot 3-run-all

# 6 (here, with 100k rows in the pane). The wheel switches tabs and never scrolls.
tab 1
before=$work/pane-before.png
after=$work/pane-after.png
import -window "$win" -crop 700x360+0+0 "$before" 2>/dev/null
xdotool mousemove --window "$win" 300 150 click 5 click 5; sleep 0.3   # over the result pane: nothing
import -window "$win" -crop 700x360+0+0 "$after" 2>/dev/null
check "6 the wheel over the result pane scrolls nothing" \
  test "$(compare -metric AE "$before" "$after" null: 2>&1 | cut -d' ' -f1)" = 0
xdotool mousemove --window "$win" 700 568 click 4; sleep 0.3             # over the button row: the next tab
button copy_sql
check "6 the wheel over the button row moves to the next tab" clipboard_is "$(tr -d '\r' < "$folder/q~3error.txt")"
xdotool mousemove --window "$win" 700 568 click 5; sleep 0.3             # two turns back: the first tab
xdotool click 5; sleep 0.3
button copy_sql
check "6 ... and back, one tab an event" wait_for 3 clipboard_is "$(tr -d '\r' < "$folder/q~1sales.txt")"
shot 6-wheel

# 15. The smallest window is 700 x 550 outside, with the frame openbox draws.
xdotool windowsize "$win" 200 200; sleep 0.5
outer_size() {  # the client's size and the frame openbox reports around it
  local l r t b w h
  read -r l r t b < <(xprop -id "$win" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
  read -r w h < <(xdotool getwindowgeometry "$win" | sed -n 's/.*Geometry: \([0-9]*\)x\([0-9]*\).*/\1 \2/p')
  echo "$((w + l + r))x$((h + t + b))"
}
check "15 the smallest window is 700 x 550 outside" [ "$(outer_size)" = "700x550" ]
xdotool windowsize "$win" 891 581; sleep 0.5
check "15 ... and it takes its size again" wait_for 3 main_window

# 4. The note popup: shown by the lower right corner, dragged by the left button only.
tab 0
if wait_for 5 popup_window; then
  pop=$(popup_window)
  read -r mx my < <(position "$win")
  read -r px py < <(position "$pop")
  check "4 the popup stands by the main window's lower right corner" \
    [ $((px - (mx + 891 - 230))) -ge -20 ] && [ $((px - (mx + 891 - 230))) -le 20 ] && [ $((py - (my + 581 - 98))) -ge -40 ] && [ $((py - (my + 581 - 98))) -le 40 ]
  xdotool mousemove --window "$pop" 171 11 mousedown 3 mousemove_relative -- -150 -100 mouseup 3; sleep 0.3
  read -r rx ry < <(position "$pop")
  check "4 the right button does not move it" [ "$rx $ry" = "$px $py" ]
  xdotool mousemove --window "$pop" 171 11 mousedown 1; sleep 0.2
  for _ in 1 2 3 4 5; do xdotool mousemove_relative -- -40 -30; sleep 0.05; done
  xdotool mouseup 1; sleep 0.3
  read -r dx dy < <(position "$pop")
  check "4 dragging the title strip with the left button moves it" [ $((px - dx)) -ge 150 ] && [ $((py - dy)) -ge 100 ]
  shot 4-popup
  # The pointer over "！" takes the activation back from the popup, and the focus lands on "！".
  xdotool windowactivate "$pop"; sleep 0.3
  xdotool mousemove --window "$win" $((428 + 26)) $((557 + 11)); sleep 0.2; xdotool mousemove_relative 2 0; sleep 0.5
  check "4 the pointer over ！ takes the activation from the popup" [ "$(xdotool getactivewindow)" = "$win" ]
  xdotool key space
  check "4 ... and the focus is on ！: space runs the query" wait_for 5 title_is "city total"
else
  fail "4 the popup shows for a query with a caption"
fi

# 5. Edit, "別保存": a copy file and a new tab; "上書" rewrites the file.
tab 0
click_at 300 470                          # into the SQL editor
xdotool key ctrl+End; xdotool type "edited here"; sleep 0.2
button save_copy
copy_file() { ls "$folder" | grep -E '^q~1s_[A-Z][a-z]{2}[0-9]{2}_[0-9]{4}_[0-9]{2}\.txt$'; }
if wait_for 5 copy_file; then
  copy=$folder/$(copy_file)
  check "5 the copy holds the editor's text" grep -q "edited here" "$copy"
  sleep 0.5
  tab 0                                   # the copy's tab sorts first
  button copy_sql
  check "5 a new tab appears for the copy" clipboard_is "$(tr -d '\r' < "$copy")"
else
  fail "5 save-copy writes a timestamped file"
fi
tab 2                                     # q~2ids now stands third
click_at 300 470
xdotool key ctrl+End; xdotool type "saved here"; sleep 0.2
button save
check "5 overwrite rewrites the current file" wait_for 5 grep -q "saved here" "$folder/q~2ids.txt"
shot 5-save

# 8. A statement with an error: a warning box, and the program goes on.
tab 3
xdotool mousemove --window "$win" $((428 + 26)) 568 click 1 &   # the box blocks the click's return
pids+=($!)
if wait_for 5 xdotool search --onlyvisible --name '^警告$'; then
  pass "8 a warning box 警告 appears"
  shot 8-warning
  box=$(xdotool search --onlyvisible --name '^警告$' | head -n 1)
  xdotool windowactivate --sync "$box" key Return 2>/dev/null
  wait_for 5 sh -c "! xdotool search --onlyvisible --name '^警告$'"
  tab 2
  button run
  button copy_result
  check "8 after the box the program still runs queries" wait_for 5 clipboard_is "$(query -f "$folder/q~2ids.txt")"
else
  fail "8 a warning box 警告 appears"
fi

# 11. A long run keeps the window responding, and Esc cancels it unseen.
before_title=$(xdotool getwindowname "$win")
tab 5                                     # long.csv (6M rows) on top of the table list
button all
tab 2
button copy_sql
check "11 during a long run the window still answers clicks" wait_for 3 clipboard_is "$(tr -d '\r' < "$folder/q~2ids.txt")"
check "11 ... while the run goes on" title_is "$before_title"
shot 11-long-run
xdotool key Escape
sleep 3
check "11 Esc cancels: the result never shows" title_is "$before_title"

# 12. What a folder may hold: a FIFO for a table or for a query file is
# refused with a message, and the window goes on.
for t in 6 7; do
  xdotool mousemove --window "$win" $((80 + 30 * t + 15)) $((385 + 2 + 12)) click 1 &  # the box blocks the click
  pids+=($!)
  if wait_for 5 error_box; then
    pass "12 tab $t: a FIFO is refused with a message"
    shot 12-fifo-$t
    xdotool key Return; sleep 0.3; xdotool key Escape; sleep 0.2
  else
    fail "12 tab $t: a FIFO is refused with a message"
  fi
done
tab 2
button copy_sql
check "12 ... and the window still answers" wait_for 3 clipboard_is "$(tr -d '\r' < "$folder/q~2ids.txt")"

# 14. A count of millions shows whole: no glyph touches the count label's edges.
tab 9
button run
check "14 the run of 1,234,567 rows ends" wait_for 30 title_is "id"
sleep 0.5
import -window "$win" -crop 145x40+738+295 +repage "$shots/14-count.png" 2>/dev/null
edge_colours() { convert "$shots/14-count.png" -crop "1x40+$1+0" +repage -unique-colors -format "%w" info: 2>/dev/null; }
check "14 the count label's edges hold no ink" [ "$(edge_colours 0)" = 1 ] && [ "$(edge_colours 144)" = 1 ]
check "14 ... and the label shows a text" [ "$(convert "$shots/14-count.png" -unique-colors -format "%w" info:)" -gt 2 ]
shot 14-million-count

# 16. The note popup holds the activation after a tab with a caption: a run
# started from the tab strip's menu is still ended by Esc; minimising the
# window takes the popup along, and restoring brings it back in its place.
before_title=$(xdotool getwindowname "$win")
slow_tab_run() {  # q~zslow, then "！" from the menu that opens on release, by the mouse
  click_at $((80 + 30 * 10 + 15)) $((385 + 2 + 12))
  sleep 0.3
  xdotool mousemove_relative -- -7 -23 click 1   # the menu stands 40, 55 up and left of the pointer
  sleep 0.5
}
slow_tab_run
if wait_for 5 popup_window; then
  pop=$(popup_window)
  check "16 the popup holds the activation during the run" [ "$(xdotool getactivewindow)" = "$pop" ]
  xdotool windowactivate --sync "$pop"; sleep 0.3   # as a click on it would, for the window system and Qt alike
  xdotool key Escape
  sleep 6
  check "16 Esc in the popup ends the run: its result never shows" title_is "$before_title"
  shot 16-esc-in-popup
  slow_tab_run
  check "16 ... the same run left alone ends with its result" wait_for 60 title_is "slowkey slowcount"
  read -r px py < <(position "$pop")
  xdotool windowminimize "$win"; sleep 0.8
  check "16 minimising the window takes the popup off the screen" wait_for 3 sh -c "! xdotool search --onlyvisible --pid $tarlo | grep -qx $pop"
  xdotool windowactivate "$win"; sleep 0.8
  check "16 restoring the window brings the popup back" wait_for 3 popup_window
  read -r qx qy < <(position "$pop")
  check "16 ... where it stood" [ "$qx $qy" = "$px $py" ]
  tab 2
else
  fail "16 the popup shows for the slow query's caption"
fi

# 7. Close, even during a run: PRODUCTS.url; then a read-only folder shows the error and still closes.
tab 5
button all
sleep 0.5
closed_at=$(date +%s%N)
wmctrl -i -c "$win"
check "7 the window closes during a run" wait_for 10 sh -c "! kill -0 $tarlo"
check "7 ... within a second" [ $((($(date +%s%N) - closed_at) / 1000000)) -lt 1000 ]
url=$(tr -d '\r' < "$folder/PRODUCTS.url" 2>/dev/null | head -n 1)
check "7 PRODUCTS.url has the section and the address" \
  [ "$url" = "[InternetShortcut]" ] && grep -q $'^URL=.*\r$' "$folder/PRODUCTS.url" && [ "$(wc -l < "$folder/PRODUCTS.url")" -eq 2 ]

rm -f "$folder/PRODUCTS.url"
chmod a+rx "$work" && chmod -R a+rX "$folder" && chmod a-w "$folder"
runner=()
if [ "$(id -u)" -eq 0 ]; then  # root writes anywhere: run as nobody
  runner=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  export XDG_RUNTIME_DIR=$work/runtime-nobody
  mkdir -p "$XDG_RUNTIME_DIR" && chown 65534 "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
fi
(cd "$folder" && exec "${runner[@]}" ./tarlo) >/dev/null 2>&1 &
tarlo=$!
pids+=($tarlo)
if wait_for 15 main_window; then
  win=$(main_window)
  wmctrl -i -c "$win"
  if wait_for 5 error_box; then
    pass "7 in a read-only folder the error shows"
    shot 7-readonly
    xdotool key Return
  else
    fail "7 in a read-only folder the error shows"
  fi
  check "7 ... and the window still closes" wait_for 10 sh -c "! kill -0 $tarlo"
  check "7 ... having written nothing" [ ! -e "$folder/PRODUCTS.url" ]
else
  fail "7 tarlo starts in a read-only folder"
fi

# 13. A save killed at any moment leaves the old text or the new one whole,
# and the next start clears what the killed save left behind.
chmod u+w "$folder"
export XDG_RUNTIME_DIR=$work/runtime
save_file=$folder/q~8save.txt
kills=${TARLO_E2E_KILLS:-12}
kept=0 replaced=0 broken=0 leftovers=0
for i in $(seq 1 "$kills"); do
  cp "$save_file" "$work/before.txt"
  { printf 'x'; cat "$work/before.txt"; } > "$work/after.txt"
  start_tarlo || { fail "13 tarlo starts for save $i"; break; }
  tab 8                                   # q~8save, after the copy's tab
  click_at 300 470
  xdotool key ctrl+Home; xdotool type "x"; sleep 0.3
  xdotool mousemove --window "$win" $((322 + 26)) $((411 + 146 + 11)) click 1
  sleep "$(printf '0.%03d' $((RANDOM % 40)))"
  kill -9 "$tarlo"; wait "$tarlo" 2>/dev/null
  if cmp -s "$save_file" "$work/before.txt"; then kept=$((kept + 1))
  elif cmp -s "$save_file" "$work/after.txt"; then replaced=$((replaced + 1))
  else broken=$((broken + 1)); cp "$save_file" "$shots/13-broken-$i.txt"; fi
  leftovers=$((leftovers + $(ls "$folder" | grep -c '\.tarlo-save-......$')))
done
echo "e2e: $kills kills during a save: $kept kept the old text, $replaced had the new one, $broken broken, $leftovers temporary files left"
check "13 no kill during a save broke the file" [ "$broken" -eq 0 ] && [ $((kept + replaced)) -eq "$kills" ]
start_tarlo && wmctrl -i -c "$win" && wait_for 10 sh -c "! kill -0 $tarlo"
check "13 the next start leaves no temporary file" [ "$(ls "$folder" | grep -c '\.tarlo-save-......$')" -eq 0 ]

summary e2e
