# What both end-to-end suites share: the tally of checks, polling, a
# desktop of their own (Xvfb with openbox drawing the frames), and where the
# window's controls are. The caller keeps the processes it must end in the
# array `pids`.

passed=0
failed=0
pass() { echo "ok   $1"; passed=$((passed + 1)); }
fail() { echo "FAIL $1${2:+: $2}"; failed=$((failed + 1)); }
check() { local name=$1; shift; if "$@"; then pass "$name"; else fail "$name"; fi; }

# Polls `cmd` every 0.1 s until it succeeds or `seconds` pass.
wait_for() {
  local seconds=$1; shift
  local end=$((SECONDS + seconds))
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -ge $end ] && return 1
    sleep 0.1
  done
}

# start_desktop LOG_DIR SUITE: a fresh display in DISPLAY, openbox's output in LOG_DIR/openbox.log.
start_desktop() {
  local logs=$1 suite=$2
  local display=:$((90 + RANDOM % 500))
  Xvfb "$display" -screen 0 1280x900x24 -nolisten tcp -ac >/dev/null 2>&1 &
  pids+=($!)
  export DISPLAY=$display
  wait_for 10 xdpyinfo || { echo "$suite: Xvfb did not start"; exit 1; }
  mkdir -p "$logs"
  openbox >"$logs/openbox.log" 2>&1 &
  pids+=($!)
  wait_for 10 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q window' || { echo "$suite: no window manager"; exit 1; }
}

# Places in the main window's client area, for the caller's click_at X Y:
# tab i of the strip, and the buttons of the lower panel. A click on a tab
# also opens the run menu (on release): Escape closes it.
tab() { click_at $((80 + 30 * $1 + 15)) $((385 + 2 + 12)); xdotool key Escape; sleep 0.3; }
button() {
  local x
  case $1 in run) x=428 ;; all) x=481 ;; copy_sql) x=534 ;; copy_result) x=587 ;; save) x=322 ;; save_copy) x=375 ;; esac
  click_at $((x + 26)) $((411 + 146 + 11))
}
clipboard() { xclip -o -selection clipboard 2>/dev/null | tr -d '\r'; }

summary() {
  echo "$1: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
