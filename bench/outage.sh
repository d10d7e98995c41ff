#!/usr/bin/env bash
# An agent that is not there, or that refuses every message: how long a
# run takes and how many syncs its kept records cost, against the stand-in
# agent on 127.0.0.1 with the default time limits.  Run by hand (never as a
# test); takes about two minutes, most of it the one I/O limit of the
# silent case.
#
#   bench/outage.sh
#
# Cases:
#   refused      agent down: a 200,000-line recovery (goal: under 5 s, at
#                most one sync per ten kept lines, every line kept once)
#   silent       agent accepts and never answers: a 1,000-line recovery
#                (goal: under 90 s)
#   no connect   connects that never complete (a full listen queue): a
#                1,000-line submit file (goal: under 30 s)
#   503          every reply 503: a 20,000-line submit file (goal: under
#                10 s, at most one sync per ten kept lines)
#   comes back   agent down for the first 2 s of a 10,000-line submit file
#                (goal: at least 90 % delivered by the same run)
# With ZV_BENCH_SYNCS=1 (and strace installed) each case runs once more
# under strace to count its fsync calls; the times are those of the plain
# run, since strace slows a run down.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
[ -f "$root/build/CMakeCache.txt" ] || cmake --preset default >/dev/null
cmake --build "$root/build" --target ZVClient zvagent >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/zv_outage.XXXXXX")
# shellcheck source=bench/lib.sh
source "$root/bench/lib.sh"
holder=
trap 'stop_agent; [ -z "$holder" ] || kill "$holder" 2>/dev/null; rm -rf "$work"' EXIT
cp "$root/build/ZVClient" "$work/ZVClient"

lines() { awk -v n="$1" 'BEGIN { for (i = 0; i < n; i++) printf "<m>%d</m>\n", i }'; }

# run NAME COMMAND...: times the client in $work (and counts its fsync
# calls in a second run, when asked).
run() {
  local name=$1 start end syncs=-
  shift
  [ -f "$work/logs/ZVClient.log" ] && cp "$work/logs/ZVClient.log" "$work/input.log"
  start=$(date +%s.%N)
  (cd "$work" && ./ZVClient "$@" >/dev/null 2>"$work/err") || true
  end=$(date +%s.%N)
  kept=$(wc -l <"$work/logs/ZVClient.log" 2>/dev/null || echo 0)
  if [ "${ZV_BENCH_SYNCS:-0}" = 1 ] && command -v strace >/dev/null && [ "$name" != silent ]; then
    rm -rf "$work/logs" "$work"/logs/*.recover*; mkdir -p "$work/logs"
    [ -f "$work/input.log" ] && cp "$work/input.log" "$work/logs/ZVClient.log"
    (cd "$work" && strace -f -c -e trace=fsync -o "$work/strace.out" ./ZVClient "$@" \
      >/dev/null 2>&1) || true
    syncs=$(awk '$NF == "fsync" { print $4 }' "$work/strace.out")
  fi
  rm -f "$work/input.log"
  printf '%-12s %8.2f s  kept %7s  syncs %6s\n' "$name" "$(echo "$end - $start" | bc)" "$kept" "${syncs:-0}"
}

fresh() { rm -rf "$work/logs" "$work/request".* "$work"/*.recover* "$work/etc"; mkdir -p "$work/etc"; }
config_port() { printf '<runtime>\n<http port="%s"/>\n</runtime>\n' "$1" >"$work/etc/.runtime.xml"; }
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

echo "case             time        kept lines      syncs"

fresh; config_port "$(free_port)"
mkdir -p "$work/logs"; lines 200000 >"$work/logs/ZVClient.log"
run refused --recover-file logs/ZVClient.log

fresh; mkdir -p "$work/logs"; lines 1000 >"$work/logs/ZVClient.log"
for i in $(seq 20); do echo never-answer; done >"$work/script"
start_agent "$work" --script "$work/script"
run silent --recover-file logs/ZVClient.log
stop_agent

# A listener whose queue is full and that never accepts: connects hang.
fresh; lines 1000 >"$work/lines.txt"
python3 - "$work/port" <<'PY' &
import socket, sys, time
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(0)
fill = []
for _ in range(8):
    c = socket.socket(); c.setblocking(False)
    try: c.connect(s.getsockname())
    except BlockingIOError: pass
    fill.append(c)
open(sys.argv[1], "w").write(str(s.getsockname()[1]))
time.sleep(120)
PY
holder=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done
config_port "$(cat "$work/port")"
run 'no connect' --submit-file lines.txt
kill "$holder" 2>/dev/null || true; holder=

fresh; lines 20000 >"$work/lines.txt"
for i in $(seq 20000); do echo 'status=503 reason=Busy'; done >"$work/script"
start_agent "$work" --script "$work/script"
run 503 --submit-file lines.txt
stop_agent

fresh; lines 10000 >"$work/lines.txt"; p=$(free_port); config_port "$p"
(sleep 2; start_agent "$work" --port "$p"; sleep 30) &
helper=$!
run 'comes back' --submit-file lines.txt
kill "$helper" 2>/dev/null || true
pkill -f "zvagent --runtime-config $work" 2>/dev/null || true
echo "comes back: $((10000 - $(wc -l <"$work/logs/ZVClient.log"))) of 10000 delivered by the same run"
