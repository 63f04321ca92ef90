#!/usr/bin/env bash
# Selects the stand-in cfgmgr32.dll for the named programs in a Wine prefix: Wine's
# per-program DllOverrides entry cfgmgr32 = native makes it load the DLL found beside them.
#   select-standin.sh <wine-run.sh> <prefix> <program.exe>...
set -euo pipefail
wine_run=$1
prefix=$2
shift 2
for program in "$@"; do
  "$wine_run" "$prefix" reg add "HKCU\\Software\\Wine\\AppDefaults\\$program\\DllOverrides" \
    /v cfgmgr32 /t REG_SZ /d native /f >/dev/null
done
