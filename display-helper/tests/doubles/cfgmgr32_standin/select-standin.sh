#!/usr/bin/env bash
# Puts the stand-in cfgmgr32.dll into a Wine prefix's C:\windows\system32, the one folder from
# which the helper loads cfgmgr32.dll, and selects it there for the named programs: Wine's
# per-program DllOverrides entry cfgmgr32 = native makes them load it. Every other program
# keeps Wine's builtin cfgmgr32 (default order builtin first), the file in system32 aside.
#   select-standin.sh <wine-run.sh> <prefix> <stand-in.dll> <program.exe>...
set -euo pipefail
wine_run=$1
prefix=$2
standin=$3
shift 3
for program in "$@"; do # wine-run.sh makes the prefix on first use
  "$wine_run" "$prefix" reg add "HKCU\\Software\\Wine\\AppDefaults\\$program\\DllOverrides" \
    /v cfgmgr32 /t REG_SZ /d native /f >/dev/null
done
cp "$standin" "$prefix/drive_c/windows/system32/cfgmgr32.dll"
