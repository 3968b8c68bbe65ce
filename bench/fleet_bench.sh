#!/usr/bin/env bash
# Sets up COUNT virtual printers (each on its own 127.0.0.x address) with a
# profile that sets every section, logos included, twice: once with a shell
# loop that runs the single commands one after another, once with
# `pellicar-cli apply PROFILE --targets FILE`. Prints both times and the
# ratio, and checks that both left every printer in the same state.
# A benchmark, not a test: run it by hand.
#
#   bench/fleet_bench.sh [BUILD_DIR] [COUNT] [PARALLEL]    (defaults: build 50 8)
set -euo pipefail

build=${1:-build}
count=${2:-50}
parallel=${3:-8}
cli=$(realpath "$build/src/cli/pellicar-cli")
printer=$(realpath "$build/src/printer/pellicar-printer")
logo=$(realpath "$(dirname "$0")/../docs/example-logo.bmp")
first=100 # printers on 127.0.0.100 and up

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  [ -n "${KEEP:-}" ] && echo "kept $work" || rm -rf "$work"
}
trap cleanup EXIT

cp "$logo" "$work/logo.bmp"
cat >"$work/counter.json" <<'EOF'
{"pellicarProfile": 1, "name": "bench counters",
 "base": {"baudRate": 19200, "parity": "none", "cutter": true, "buzzer": false, "drawer": true,
          "charsPerLine": 48, "density": "dark", "codePage": 0, "font": "A", "reprint": false,
          "buzzAfterPrinting": false},
 "ethernet": {"ip": "127.0.0.1", "mac": "00:64:65:66:67:00", "speed": "100M Full Duplex"},
 "wifi": {"ssid": "Shop", "security": "wpa2-psk", "cipher": "aes", "key": "secretkey1"},
 "blackMark": {"enabled": true, "pitchMm": 100, "widthMm": 4, "printOffsetMm": 2,
               "cutOffsetMm": 3},
 "logos": [{"file": "logo.bmp", "name": "shop"}]}
EOF

# The printers, each on a free port at its own address.
for ((i = 0; i < count; i++)); do
  "$printer" --tcp "127.0.0.$((first + i)):0" --quiet --state "$work/state-$i.json" \
    >"$work/printer-$i.out" &
  pids+=($!)
done
targets=()
for ((i = 0; i < count; i++)); do
  for _ in $(seq 100); do
    grep -q '^Listening on ' "$work/printer-$i.out" 2>/dev/null && break
    sleep 0.05
  done
  targets+=("$(sed -n 's/^Listening on //p' "$work/printer-$i.out")")
done

# Each printer keeps its address; its MAC ends in its number.
echo "target,ethernet.ip,ethernet.mac" >"$work/targets.csv"
for ((i = 0; i < count; i++)); do
  printf 'tcp:%s,127.0.0.%d,00:64:65:66:67:%02x\n' "${targets[i]}" $((first + i)) "$i" \
    >>"$work/targets.csv"
done

now() { date +%s.%N; }

# 1. The shell loop: one command per setting, one printer after another.
start=$(now)
for ((i = 0; i < count; i++)); do
  c=(--tcp "${targets[i]}")
  "$cli" "${c[@]}" base --baud 19200 --parity none --cutter on --buzzer off --drawer on \
    --chars 48 --density dark --codepage 'CP437 [U.S.A., Standard Europe]' --font a --reprint off --buzz-after-print off >/dev/null
  "$cli" "${c[@]}" blackmark enable
  "$cli" "${c[@]}" blackmark pitch 100
  "$cli" "${c[@]}" blackmark width 4
  "$cli" "${c[@]}" blackmark print-offset 2
  "$cli" "${c[@]}" blackmark cut-offset 3
  "$cli" "${c[@]}" wifi --ssid Shop --wpa2 secretkey1 --cipher aes
  "$cli" "${c[@]}" logo "$work/logo.bmp"
  "$cli" "${c[@]}" speed 100-full
  "$cli" "${c[@]}" mac "100.101.102.103.$i"
  "$cli" "${c[@]}" ip "127.0.0.$((first + i))"
done
loop=$(awk -v a="$start" -v b="$(now)" 'BEGIN { print b - a }')
for ((i = 0; i < count; i++)); do cp "$work/state-$i.json" "$work/loop-$i.json"; done

# 2. One command for the fleet.
start=$(now)
"$cli" apply "$work/counter.json" --targets "$work/targets.csv" --parallel "$parallel" \
  >"$work/report.txt"
fleet=$(awk -v a="$start" -v b="$(now)" 'BEGIN { print b - a }')

# The same settings either way (the counters differ: apply asks the status).
same=0
for ((i = 0; i < count; i++)); do
  if diff <(sed '/"counters"/,/}/d' "$work/loop-$i.json") \
    <(sed '/"counters"/,/}/d' "$work/state-$i.json") >/dev/null; then
    same=$((same + 1))
  fi
done

tail -n 1 "$work/report.txt"
printf 'printers: %d, parallel: %d\n' "$count" "$parallel"
printf 'shell loop of single commands: %6.2f s\n' "$loop"
printf 'apply --targets:               %6.2f s\n' "$fleet"
awk -v a="$loop" -v b="$fleet" 'BEGIN { printf "faster by:                     %6.1fx\n", a / b }'
printf 'printers left in the same state either way: %d of %d\n' "$same" "$count"
