#!/usr/bin/env bash
# The Ansible module pellicar_printer end to end: ansible-playbook against
# localhost (connection: local) sets up three pellicar-printer processes,
# each on its own 127.0.0.x address, through the built pellicar-cli; then
# the printers' state files are checked here.
#
#   tests/ansible/pellicar_printer_test.sh CLI PRINTER
set -euo pipefail

cli=$(realpath "$1")
printer=$(realpath "$2")
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

if ! command -v ansible-playbook >/dev/null; then
  echo "ansible-playbook is missing: run scripts/install-deps" >&2
  exit 1
fi

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

cp "$root/docs/example-logo.bmp" "$work/logo.bmp"
cat >"$work/counter.json" <<'JSON'
{"pellicarProfile": 1, "name": "counters",
 "base": {"baudRate": 19200, "parity": "none", "cutter": true, "buzzer": false, "drawer": true,
          "charsPerLine": 48, "density": "dark", "codePage": 0, "font": "B", "reprint": false,
          "buzzAfterPrinting": false},
 "ethernet": {"ip": "127.0.0.250", "mac": "00:64:65:66:67:68", "speed": "100M Full Duplex"},
 "wifi": {"ssid": "Shop", "security": "wpa2-psk", "cipher": "aes", "key": "secretkey1"},
 "blackMark": {"enabled": true, "pitchMm": 100, "widthMm": 4, "printOffsetMm": 2,
               "cutOffsetMm": 3},
 "logos": [{"file": "logo.bmp"}]}
JSON

printers=()
for i in 0 1 2; do
  address=127.0.0.$((81 + i))
  "$printer" --tcp "$address:0" --quiet --state "$work/state-$i.json" >"$work/printer-$i.out" &
  pids+=($!)
  for _ in $(seq 200); do
    grep -q "^Listening on " "$work/printer-$i.out" 2>/dev/null && break
    sleep 0.05
  done
  endpoint=$(sed -n 's/^Listening on //p' "$work/printer-$i.out")
  [ -n "$endpoint" ] || { echo "pellicar-printer $i did not start" >&2; exit 1; }
  printers+=("{\"target\": \"tcp:$endpoint\", \"ip\": \"$address\",
    \"mac\": \"00:64:65:66:67:$((10 + i))\", \"ssid\": \"Till $i\",
    \"state\": \"$work/state-$i.json\"}")
done
cat >"$work/vars.json" <<JSON
{"printers": [$(IFS=,; echo "${printers[*]}")],
 "absent": "tcp:127.0.0.1:1", "profile": "$work/counter.json", "cli": "$cli"}
JSON

export ANSIBLE_LIBRARY=$root/contrib/ansible/library
export ANSIBLE_LOCAL_TEMP=$work/ansible-local ANSIBLE_REMOTE_TEMP=$work/ansible-remote
export ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_PYTHON_INTERPRETER=/usr/bin/python3
export ANSIBLE_LOCALHOST_WARNING=0 ANSIBLE_INVENTORY_UNPARSED_WARNING=0
# Its documentation parses (ansible-doc reads it as YAML).
ansible-doc pellicar_printer >/dev/null
ansible-playbook -i localhost, -e "@$work/vars.json" "$here/pellicar_printer_test.yml"

# What the printers hold now, read from their own state files.
failures=0
for i in 0 1 2; do
  mac=$(sed -n 's/.*"mac": "\(.*\)".*/\1/p' "$work/state-$i.json")
  ssid=$(sed -n 's/.*"ssid": "\(.*\)".*/\1/p' "$work/state-$i.json")
  logos=$(grep -c '"rasterBytes"' "$work/state-$i.json" || true)
  if [ "$mac" != "00:64:65:66:67:$((10 + i))" ] || [ "$ssid" != "Till $i" ] || [ "$logos" != 1 ]; then
    echo "printer $i: mac '$mac', ssid '$ssid', $logos logos" >&2
    failures=$((failures + 1))
  fi
done
[ "$failures" -eq 0 ] || exit 1
echo "pellicar_printer: 3 printers set up through ansible-playbook, check mode sent nothing"
