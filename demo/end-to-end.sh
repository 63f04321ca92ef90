#!/usr/bin/env bash
# The system's main job end to end under Wine, in a fresh prefix of its own
# (build/demo/wineprefix, made anew on every run; never the tests' prefix), from the release
# archive as a person gets it: unpack it, tolvek-setup install, get monitors through the
# helper's service with tolvek-monitors, stream the camera in a 64-bit and in a 32-bit host as
# any host does while tolvek-vcam-pattern feeds it (one frame of each saved as
# build/demo/camera-frame-64.png and -32.png), tolvek-setup remove, and check that no service,
# registry key or installed file is left. Prints an account of each step and exits non-zero
# when any step failed.
#   demo/end-to-end.sh   after tools/build.sh has made the archive in dist/
# No -e: a step that fails is reported as such and the run goes on with the next one.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
root=$(pwd)

# tolvek-demo, the stand-ins for what Wine lacks, and the 32-bit tolvek-demo (a camera host).
bin=$root/build/windows/bin
bin_x86=$root/build/windows-x86/bin
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$root/build/windows/CMakeCache.txt")
release_name=tolvek-$version-windows
archive=$root/dist/$release_name.zip
work=$root/build/demo
prefix=$work/wineprefix
downloads_windows='C:\users\Public\Downloads'
downloads=$prefix/drive_c/users/Public/Downloads
release_windows="$downloads_windows\\$release_name"
wine=${TOLVEK_WINE:-/usr/lib/wine/wine64}
wineserver=$(dirname "$wine")/wineserver
app_windows='C:\Program Files\Tolvek'
app=$prefix/drive_c/Program\ Files/Tolvek
pnputil_state_windows='C:\tolvek-test-doubles\pnputil'
# No Wine program of the run may take longer than this; the programs' own waits are shorter.
command_limit=60
# How long the run waits for a line from a program it started in the background.
line_limit=20

export WINEPREFIX=$prefix
export WINEDEBUG=-all

stop_wineserver() {
  "$wineserver" -k >/dev/null 2>&1 || true
}
trap stop_wineserver EXIT

say() { printf '   %s\n' "$*"; }
detail() { printf '     %s\n' "$*"; }
failed() { say "FAILED: $*"; }

# Runs a Windows program in the prefix with the run's time limit. Started in the background
# straight from the array (not through in_wine), the process that $! names is timeout, which
# hands a signal on to the program.
wine_command=(timeout --kill-after=5 "$command_limit" "$root/tools/wine-run.sh" "$prefix")
in_wine() {
  "${wine_command[@]}" "$@"
}

# The Windows form of a path under the Linux root (Wine's drive Z:).
windows_path() {
  local path=${1//\//\\}
  printf 'Z:%s' "$path"
}

# A program's output as the account shows it: carriage returns off, set in.
show_output() {
  tr -d '\r' | sed 's/^/     /'
}

# Runs a Windows program and shows its command line, its output and its exit code; returns
# that exit code.
show_run() {
  local shown=$1
  shift
  say "> $shown"
  local output status
  output=$(in_wine "$@" 2>&1)
  status=$?
  [ -z "$output" ] || printf '%s\n' "$output" | show_output
  detail "exit code $status"
  return $status
}

# Waits until the file holds the whole line, as long as the process lives and at most
# line_limit seconds. Nothing signals a line written into a file, so it is looked for ten
# times a second.
wait_for_line() {
  local file=$1 line=$2 pid=$3
  local deadline=$((SECONDS + line_limit))
  has_line() { [ -f "$file" ] && tr -d '\r' <"$file" | grep -qxF -- "$line"; }
  until has_line; do
    if ! kill -0 "$pid" 2>/dev/null || [ "$SECONDS" -ge "$deadline" ]; then
      has_line
      return
    fi
    sleep 0.1
  done
}

# The messages of a helper log in the prefix, timestamps taken off.
log_messages() {
  [ -f "$1" ] || return 0
  tr -d '\r' <"$1" | sed -E 's/^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:]{8} //'
}
console_log=$prefix/drive_c/ProgramData/Tolvek/display-helper.log
service_log=$prefix/drive_c/users/Public/Tolvek/display-helper.log
ledger=$prefix/drive_c/tolvek-test-doubles/cfgmgr32/ledger.txt

# Whether the lines of standard input hold the given lines in this order, others between.
holds_in_order() {
  EXPECTED=$(printf '%s\n' "$@") awk '
    BEGIN { count = split(ENVIRON["EXPECTED"], wanted, "\n"); next_one = 1 }
    next_one <= count && $0 == wanted[next_one] { next_one++ }
    END { exit next_one <= count }'
}

demo() {
  in_wine "$bin/tolvek-demo.exe" "$@"
}

user_sid=

# The stand-ins for what Wine lacks go into the prefix before setup runs: the helper finds
# pnputil.exe and loads cfgmgr32.dll from the system folder alone.
put_standins() {
  mkdir -p "$prefix/drive_c/tolvek-test-doubles/pnputil"
  cp "$bin/fake_pnputil.exe" "$prefix/drive_c/windows/system32/pnputil.exe"
  display-helper/tests/doubles/cfgmgr32_standin/select-standin.sh tools/wine-run.sh "$prefix" \
    "$bin/cfgmgr32_standin.dll" tolvek-display-helper.exe || return 1
  say "Wine lacks two pieces; stand-ins take their place in C:\\windows\\system32:"
  detail "pnputil.exe: the fake one of display-helper/tests/doubles/fake_pnputil, an empty driver store"
  detail "cfgmgr32.dll: the stand-in of display-helper/tests/doubles/cfgmgr32_standin, which records"
  detail "the devices instead of making them; chosen for the helper by"
  detail "HKCU\\Software\\Wine\\AppDefaults\\tolvek-display-helper.exe\\DllOverrides: cfgmgr32 = native"
}

step_install() {
  if [ ! -f "$archive" ]; then
    failed "no archive at $archive: tools/build.sh makes it"
    return 1
  fi
  mkdir -p "$downloads"
  unzip -q "$archive" -d "$downloads" || return 1
  say "unpacked $(basename "$archive") into $release_windows"
  put_standins || return 1
  # The pnputil fake's state folder reaches the helper through setup's environment.
  TOLVEK_FAKE_PNPUTIL_DIR=$pnputil_state_windows show_run "tolvek-setup.exe install" \
    "$release_windows\\tolvek-setup.exe" install || return 1
  say "the installed files: $(cd "$app" && echo * x86/*)"
  say "the helper's log, C:\\ProgramData\\Tolvek\\display-helper.log:"
  log_messages "$console_log" | sed 's/^/     /'
  user_sid=$(demo user-sid) || return 1
  demo service installed || return 1
}

# tolvek-monitors hold, its standard input a pipe of this run: the monitors are held until
# the run closes it, and meanwhile the service manager is asked about the service.
hold_monitors() {
  local input=$work/hold-input output=$work/hold-output
  rm -f "$input" "$output"
  mkfifo "$input"
  say "> tolvek-monitors.exe hold 1920x1080 2560x1440   (standard input: a pipe of this run)"
  "${wine_command[@]}" "$app_windows\\tolvek-monitors.exe" hold 1920x1080 2560x1440 \
    <"$input" >"$output" 2>&1 &
  local pid=$!
  local hold_input
  exec {hold_input}>"$input" # opened once the program's side is; closing it ends the hold

  local status=0 shown=0
  if wait_for_line "$output" "holding 2560x1440 as serial 2" "$pid"; then
    local so_far
    so_far=$(cat "$output")
    shown=$(printf '%s\n' "$so_far" | wc -l)
    printf '%s\n' "$so_far" | show_output
    demo service running || status=1
  else
    failed "tolvek-monitors did not hold both monitors within $line_limit s"
    status=1
  fi
  say "closing its standard input"
  exec {hold_input}>&-
  wait "$pid"
  local exit_code=$?
  tail -n +$((shown + 1)) "$output" | show_output
  detail "exit code $exit_code"
  rm -f "$input"
  [ "$exit_code" -eq 0 ] || status=1
  return $status
}

show_service_log() {
  say "the service's log, C:\\users\\Public\\Tolvek\\display-helper.log:"
  log_messages "$service_log" | sed 's/^/     /'
  # Each run of the service, in order: ping's, then hold's.
  if ! log_messages "$service_log" | holds_in_order \
    "listening for $user_sid" "the last connection went; stopping" "stopped" \
    "listening for $user_sid" "a connection went, taking 2 display(s)" \
    "the last connection went; stopping" "stopped"; then
    failed "the log should tell of two runs of the service, the second taking 2 displays"
    return 1
  fi
}

# What the stand-in recorded: the two monitors made with their MonitorSpec texts, each
# closed once.
show_standin_ledger() {
  say "what the stand-in recorded, C:\\tolvek-test-doubles\\cfgmgr32\\ledger.txt:"
  if [ ! -f "$ledger" ]; then
    failed "the stand-in recorded nothing"
    return 1
  fi
  local lines
  lines=$(tr -d '\r' <"$ledger" | awk -F'\t' -f demo/ledger-lines.awk)
  printf '%s\n' "$lines" | sed 's/^/     /'
  local status=0 expected
  for expected in \
    'create TolvekMonitor-00000001, MonitorSpec "1920x1080@60/546f:4c56:00000001": device [0-9]+, returned 0x00000000' \
    'create TolvekMonitor-00000002, MonitorSpec "2560x1440@60/546f:4c56:00000002": device [0-9]+, returned 0x00000000'; do
    if [ "$(printf '%s\n' "$lines" | grep -cxE -- "$expected")" -ne 1 ]; then
      failed "one line should read: $expected"
      status=1
    fi
  done
  local created closed
  created=$(printf '%s\n' "$lines" | sed -nE 's/^create .*: device ([0-9]+), returned .*/\1/p' | sort)
  closed=$(printf '%s\n' "$lines" | sed -nE 's/^close device ([0-9]+)$/\1/p' | sort)
  if [ "$(printf '%s\n' "$lines" | grep -c '^create ')" -ne 2 ] || [ "$created" != "$closed" ]; then
    failed "two creates, and each device made closed once, expected"
    status=1
  fi
  return $status
}

step_monitors() {
  local status=0
  show_run "tolvek-monitors.exe ping" "$app_windows\\tolvek-monitors.exe" ping || status=1
  demo service stopped || status=1 # ping's connection started it, and it went
  hold_monitors || status=1
  demo service stopped || status=1
  show_service_log || status=1
  show_standin_ledger || status=1
  return $status
}

# A tolvek-demo of the given bitness as the camera host, its account shown as it comes; on
# the line after which it goes on streaming without the feed, the feed gets Ctrl+C (a SIGINT,
# as a terminal sends, which Wine hands to the program's console handler).
run_camera_host() {
  local host=$1 frame=$2 feed_pid=$3
  local hand_over='   the host goes on streaming; the feed may go now' # kFeedMayGoLine
  in_wine "$host" camera "$(windows_path "$frame")" | while IFS= read -r line; do
    printf '%s\n' "$line"
    if [ "$line" = "$hand_over" ]; then
      say "> Ctrl+C to tolvek-vcam-pattern.exe"
      kill -INT "$feed_pid" 2>/dev/null
    fi
  done
  return "${PIPESTATUS[0]}"
}

# The installed tolvek-vcam-pattern feeds the camera while a host of `bits` bitness streams it.
stream_in_host() {
  local bits=$1 host=$2
  local status=0 output=$work/feed-output-$bits frame=$work/camera-frame-$bits.png
  rm -f "$frame" "$output"
  # --seconds: a feed that a failed run never stops still ends.
  say "> tolvek-vcam-pattern.exe --seconds $command_limit   (in the background; its lines below)"
  "${wine_command[@]}" "$app_windows\\tolvek-vcam-pattern.exe" --seconds "$command_limit" \
    >"$output" 2>&1 &
  local feed_pid=$!
  if wait_for_line "$output" "nobody watching" "$feed_pid"; then
    say "tolvek-demo ($bits-bit) as a camera host:"
    run_camera_host "$host" "$frame" "$feed_pid" || status=1
  else
    failed "tolvek-vcam-pattern did not start feeding within $line_limit s"
    status=1
  fi
  kill -INT "$feed_pid" 2>/dev/null # when the host stopped before it let the feed go
  wait "$feed_pid"
  local exit_code=$?
  say "tolvek-vcam-pattern.exe wrote:"
  show_output <"$output"
  detail "exit code $exit_code"
  if [ "$exit_code" -ne 0 ] || ! tr -d '\r' <"$output" | holds_in_order "nobody watching" \
    "1 viewer watching"; then
    failed "the feed should have seen the one camera watching and ended with exit code 0"
    status=1
  fi
  if [ -f "$frame" ] && [ "$(head -c 4 "$frame" | tail -c 3)" = PNG ]; then
    say "the captured frame, for a person to look at: $frame"
  else
    failed "no PNG of a captured frame at $frame"
    status=1
  fi
  return $status
}

step_camera() {
  local status=0
  stream_in_host 64 "$bin/tolvek-demo.exe" || status=1
  stream_in_host 32 "$bin_x86/tolvek-demo.exe" || status=1
  return $status
}

# Whether the registry key is absent in the view of the given bitness; says so either way.
registry_key_absent() {
  local key=$1 bits=$2
  if in_wine reg query "$key" "/reg:$bits" >/dev/null 2>&1; then
    failed "$key is left in the $bits-bit registry view"
    return 1
  fi
  detail "absent in the $bits-bit view: $key"
}

step_remove() {
  local status=0
  TOLVEK_FAKE_PNPUTIL_DIR=$pnputil_state_windows show_run "tolvek-setup.exe remove" \
    "$release_windows\\tolvek-setup.exe" remove || status=1
  demo service gone || status=1
  local line
  line=$(log_messages "$console_log" | grep '^uninstalled (' | tail -n 1)
  say "the helper's log: ${line:-(no \"uninstalled\" line)}"
  [ -n "$line" ] || status=1
  say "the camera's registration:"
  local classes='HKLM\Software\Classes\CLSID' camera='{6F4A2C58-9B31-4E7D-A5C6-1D0E8B37F942}'
  local category='{860BB310-5D01-11D0-BD3B-00A0C911CE86}'
  local bits
  for bits in 64 32; do
    registry_key_absent "$classes\\$camera" "$bits" || status=1
    registry_key_absent "$classes\\$category\\Instance\\$camera" "$bits" || status=1
  done
  if [ -e "$app" ]; then
    failed "$app_windows is left: $(cd "$app" && find . | tr '\n' ' ')"
    status=1
  else
    say "$app_windows is gone"
  fi
  return $status
}

started=$SECONDS
echo "=== the main job end to end under Wine, in a fresh prefix: build/demo/wineprefix"
stop_wineserver # of an earlier run's prefix, before it goes
rm -rf "$prefix"
mkdir -p "$work"
if ! in_wine cmd /c exit >/dev/null 2>&1; then
  echo "=== FAILED: the prefix would not boot"
  exit 1
fi
say "prefix made in $((SECONDS - started)) s"

failed=()
run_step() {
  local title=$1 step=$2
  local step_started=$SECONDS
  echo "--- $title"
  if "$step"; then
    say "=> ok, in $((SECONDS - step_started)) s"
  else
    say "=> FAILED, after $((SECONDS - step_started)) s"
    failed+=("$title")
  fi
}
run_step "1. unpack the archive and tolvek-setup install" step_install
run_step "2. monitors, as the user gets them with tolvek-monitors" step_monitors
run_step "3. camera, fed by tolvek-vcam-pattern, as 64-bit and 32-bit hosts open it" step_camera
run_step "4. tolvek-setup remove, and nothing left" step_remove

stop_wineserver
if [ "${#failed[@]}" -gt 0 ]; then
  echo "=== FAILED after $((SECONDS - started)) s: ${failed[*]}"
  exit 1
fi
echo "=== all four steps went as they should, in $((SECONDS - started)) s"
