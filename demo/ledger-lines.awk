# The ledger of the stand-in cfgmgr32.dll (its format: display-helper/tests/doubles/
# cfgmgr32_standin/README.md) as lines a person reads, one per call:
#   create TolvekMonitor-00000001, MonitorSpec "1920x1080@60/546f:4c56:00000001": device 1, returned 0x00000000
#   creation callback for device 1: 0x00000000
#   close device 1                      (or "close device 7, which is not live")
# Run with -F'\t' over the ledger, carriage returns taken off.

function hex_value(digits,   i, value) {
  value = 0
  for (i = 1; i <= length(digits); i++) {
    value = value * 16 + index("0123456789ABCDEF", toupper(substr(digits, i, 1))) - 1
  }
  return value
}

# Hex bytes of UTF-16LE text up to its terminating null; units outside printable ASCII as
# \uXXXX.
function utf16_text(hex,   i, unit, text) {
  text = ""
  for (i = 1; i + 3 <= length(hex); i += 4) {
    unit = hex_value(substr(hex, i + 2, 2) substr(hex, i, 2))
    if (unit == 0) {
      break
    }
    text = text ((unit >= 32 && unit < 127) ? sprintf("%c", unit) : sprintf("\\u%04X", unit))
  }
  return text
}

# A quoted ledger value as its text; null as itself.
function unquoted(value) {
  if (value !~ /^".*"$/) {
    return value
  }
  value = substr(value, 2, length(value) - 2)
  gsub(/\\"/, "\"", value)
  gsub(/\\\\/, "\\", value)
  return value
}

{
  delete field
  for (i = 2; i <= NF; i++) {
    equals = index($i, "=")
    field[substr($i, 1, equals - 1)] = substr($i, equals + 1)
  }
  if ($1 == "create") {
    monitor_spec = ("property0.buffer" in field) ? "\"" utf16_text(field["property0.buffer"]) "\"" : "(none)"
    printf "create %s, MonitorSpec %s: device %s, returned %s\n", unquoted(field["instance_id"]),
           monitor_spec, field["device"], field["returned"]
  } else if ($1 == "callback") {
    printf "creation callback for device %s: %s\n", field["device"], field["result"]
  } else if ($1 == "close") {
    printf "close device %s%s\n", field["device"], field["known"] == "true" ? "" : ", which is not live"
  } else {
    printf "unknown entry: %s\n", $0
  }
}
