#!/usr/bin/env bash
# Checks the shape of the two Windows deliverables and the programs shipped beside them (the
# camera's registration tool, the monitor command, the test-pattern feed and the SDK's DLL):
# - they are images of the build's machine (x86-64, or i386 for the 32-bit camera side);
# - they import system DLLs only (no MinGW runtime DLL has to ship beside them);
# - tolvek_vcam.dll exports exactly DllGetClassObject and DllCanUnloadNow;
# - tolvek_sdk.dll exports exactly the functions its .def file names, by their plain names,
#   and never changes where its host process loads DLLs from (SetDefaultDllDirectories is
#   for programs only).
#   tools/check-deliverables.sh <folder holding the deliverables>        the 64-bit build
#   tools/check-deliverables.sh <folder holding the deliverables> x86    the 32-bit camera side
set -euo pipefail

dir=$1
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump} # reads PE images of both machines
if [ "${2:-}" = x86 ]; then
  binaries=(tolvek_vcam.dll tolvek-vcam-register.exe tolvek_sdk.dll)
  format=pei-i386
else
  binaries=(tolvek-display-helper.exe tolvek-monitors.exe tolvek_vcam.dll tolvek-vcam-register.exe
    tolvek-vcam-pattern.exe tolvek_sdk.dll tolvek-setup.exe)
  format=pei-x86-64
fi
# DLLs that every Windows installation has.
allowed='^(kernel32|advapi32|user32|ole32|oleaut32|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+|ntdll|shell32|cfgmgr32|rpcrt4|bcrypt|ws2_32|sechost)\.dll$'
status=0

for binary in "${binaries[@]}"; do
  path=$dir/$binary
  if [ ! -f "$path" ]; then
    echo "missing: $path"
    status=1
    continue
  fi
  if ! "$objdump" -f "$path" | grep -q "file format $format\$"; then
    echo "$binary is not a $format image"
    status=1
  fi
  while read -r dll; do
    if ! printf '%s\n' "$dll" | tr 'A-Z' 'a-z' | grep -Eq "$allowed"; then
      echo "$binary imports $dll, which is not a system DLL"
      status=1
    fi
  done < <("$objdump" -p "$path" | sed -n 's/^\s*DLL Name: //p')
done

# The names a DLL exports, sorted, each followed by a blank.
exports_of() {
  "$objdump" -p "$1" |
    awk '/\[Ordinal\/Name Pointer\] Table/{table=1; next} table && /^[ \t]*\[/{print $NF; next} table{table=0}' |
    sort | tr '\n' ' '
}

exports=$(exports_of "$dir/tolvek_vcam.dll")
if [ "$exports" != "DllCanUnloadNow DllGetClassObject " ]; then
  echo "tolvek_vcam.dll exports '$exports'; expected exactly DllGetClassObject and DllCanUnloadNow"
  status=1
fi

sdk_def=$(dirname "$0")/../sdk/tolvek_sdk.def
expected=$(sed -n '/^EXPORTS/,$p' "$sdk_def" | sed '1d; s/^[ \t]*//; /^$/d' | sort | tr '\n' ' ')
exports=$(exports_of "$dir/tolvek_sdk.dll")
if [ "$exports" != "$expected" ]; then
  echo "tolvek_sdk.dll exports '$exports'; expected exactly '$expected' (sdk/tolvek_sdk.def)"
  status=1
fi
if "$objdump" -p "$dir/tolvek_sdk.dll" | grep -c 'SetDefaultDllDirectories' >/dev/null; then
  echo "tolvek_sdk.dll imports SetDefaultDllDirectories, which would change its host process"
  status=1
fi

[ $status -eq 0 ] && echo "${binaries[*]}: $format images importing system DLLs only; tolvek_vcam.dll exports exactly the two entry points, tolvek_sdk.dll those of its .def file"
exit $status
