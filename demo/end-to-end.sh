#!/usr/bin/env bash
# The system's main job end to end under Wine, in a fresh prefix of its own
# (build/demo/wineprefix, made anew on every run; never the tests' prefix): install the
# helper's service, get monitors through it as the user's application does, stream the
# camera as any host does while a producer publishes, uninstall. Prints an account of each
# step and exits non-zero when any step failed.
#   demo/end-to-end.sh   after tools/build.sh has filled dist/ and build/windows
# No -e: a step that fails is reported as such and the run goes on with the next one.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

dist=$root/dist
bin=$root/build/windows/bin # the demo program, the stand-ins and the test producer
prefix=$root/build/demo/wineprefix
wine=${TOLVEK_WINE:-/usr/lib/wine/wine64}
wineserver=$(dirname "$wine")/wineserver
app_windows='C:\Program Files\Tolvek'
app=$prefix/drive_c/Program\ Files/Tolvek
pnputil_state_windows='C:\tolvek-test-doubles\pnputil'
# No Wine program of the run may take longer than this; the programs' own waits are shorter.
command_limit=60

export WINEPREFIX=$prefix
export WINEDEBUG=-all

stop_wineserver() {
  "$wineserver" -k >/dev/null 2>&1 || true
}
trap stop_wineserver EXIT

say() { printf '   %s\n' "$*"; }
detail() { printf '     %s\n' "$*"; }

# Runs a Windows program in the prefix with the run's time limit.
in_wine() {
  timeout --kill-after=5 "$command_limit" "$root/tools/wine-run.sh" "$prefix" "$@"
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
  [ -z "$output" ] || printf '%s\n' "$output" | tr -d '\r' | sed 's/^/     /'
  detail "exit code $status"
  return $status
}

# The messages of a helper log in the prefix, timestamps taken off.
log_messages() {
  [ -f "$1" ] || return 0
  tr -d '\r' <"$1" | sed -E 's/^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:]{8} //'
}
console_log=$prefix/drive_c/ProgramData/Tolvek/display-helper.log

demo() {
  in_wine "$bin/tolvek-demo.exe" "$@"
}

step_install() {
  mkdir -p "$app"
  cp "$dist"/* "$app/"
  say "copied dist/ into $app_windows: $(cd "$app" && echo *)"

  local sid
  if ! sid=$(demo user-sid); then
    printf '%s\n' "$sid"
    return 1
  fi
  say "the Wine user's SID, from the token of a process in the prefix: $sid"

  show_run "tolvek-display-helper.exe install $sid" "$app_windows\\tolvek-display-helper.exe" \
    install "$sid" || return 1
  say "its log, C:\\ProgramData\\Tolvek\\display-helper.log:"
  log_messages "$console_log" | sed 's/^/     /'
  demo service installed || return 1

  # The service must load the stand-in, not Wine's own cfgmgr32.dll. It loads cfgmgr32.dll
  # from the system folder alone, so that is where the stand-in goes.
  display-helper/tests/doubles/cfgmgr32_standin/select-standin.sh tools/wine-run.sh "$prefix" \
    "$bin/cfgmgr32_standin.dll" tolvek-display-helper.exe || return 1
  say "Wine has no SwDeviceCreate; the stand-in records the devices instead:"
  detail "cfgmgr32.dll from display-helper/tests/doubles/cfgmgr32_standin in C:\\windows\\system32,"
  detail "chosen by HKCU\\Software\\Wine\\AppDefaults\\tolvek-display-helper.exe\\DllOverrides: cfgmgr32 = native"
}

step_monitors() {
  demo monitors
}

step_camera() {
  show_run "tolvek-vcam-register.exe register" "$app_windows\\tolvek-vcam-register.exe" register ||
    return 1
  local status=0
  demo camera || status=1
  show_run "tolvek-vcam-register.exe unregister" "$app_windows\\tolvek-vcam-register.exe" \
    unregister || status=1
  return $status
}

step_uninstall() {
  # Uninstall asks pnputil.exe for the driver store's listing.
  mkdir -p "$prefix/drive_c/tolvek-test-doubles/pnputil"
  cp "$bin/fake_pnputil.exe" "$prefix/drive_c/windows/system32/pnputil.exe"
  say "Wine has no pnputil.exe; the fake one of display-helper/tests/doubles/fake_pnputil answers"
  detail "in its place, from an empty driver store (this build ships no driver package)"

  local status=0
  TOLVEK_FAKE_PNPUTIL_DIR=$pnputil_state_windows show_run "tolvek-display-helper.exe uninstall" \
    "$app_windows\\tolvek-display-helper.exe" uninstall || status=1
  demo service gone || status=1
  local line
  line=$(log_messages "$console_log" | grep '^uninstalled (' | tail -n 1)
  say "its log: ${line:-(no \"uninstalled\" line)}"
  [ -n "$line" ] || status=1
  return $status
}

started=$SECONDS
echo "=== the main job end to end under Wine, in a fresh prefix: build/demo/wineprefix"
stop_wineserver # of an earlier run's prefix, before it goes
rm -rf "$prefix"
mkdir -p "$(dirname "$prefix")"
if ! in_wine cmd /c exit >/dev/null 2>&1; then
  echo "=== FAILED: the prefix would not boot"
  exit 1
fi
say "prefix made in $((SECONDS - started)) s"

failed=()
run_step() {
  local title=$1 step=$2
  echo "--- $title"
  if "$step"; then
    say "=> ok"
  else
    say "=> FAILED"
    failed+=("$title")
  fi
}
run_step "1. install" step_install
run_step "2. monitors, as the user's application gets them" step_monitors
run_step "3. camera, as any host opens it" step_camera
run_step "4. uninstall" step_uninstall

stop_wineserver
if [ "${#failed[@]}" -gt 0 ]; then
  echo "=== FAILED after $((SECONDS - started)) s: ${failed[*]}"
  exit 1
fi
echo "=== all four steps went as they should, in $((SECONDS - started)) s"
