#!/usr/bin/env bash
# Whole runs of the built client against the stand-in agent on 127.0.0.1:
# wall time and peak resident memory of the client process for large
# messages, a large reply and large recovery logs.  Run by hand (never from
# CTest); it takes one to two minutes on two cores.
#
#   bench/run_bench.sh
#
# Every run gets a fresh directory holding a symlink to build/ZVClient and
# the etc/.runtime.xml that the agent writes there, so the client finds the
# agent's port beside the program as invoked, and its recovery log
# (logs/ZVClient.log) lands in that directory too.  Each case is run a few
# times and the fastest run is shown: on a shared machine the slower ones
# measure the neighbours.
#
# "Linear" below means: four times the data costs about four times the time,
# and peak memory is a fixed multiple of the largest single item held at
# once (one message, one reply, one line), never of the whole input.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

if [ ! -x /usr/bin/time ]; then
  echo "run_bench.sh: needs /usr/bin/time (Debian: apt-get install time)" >&2
  exit 1
fi
[ -f build/CMakeCache.txt ] || cmake --preset default >/dev/null
cmake --build --preset default --target ZVClient zvagent >/dev/null

readonly MIB=$((1 << 20))
readonly BIG_MIB=64
readonly SMALL_MIB=16
readonly FEW_LINES=50000
readonly MANY_LINES=200000
# Runs per case: the large-data cases are quick, the recoveries are not.
readonly DATA_RUNS=3
readonly RECOVERY_RUNS=2

work=$(mktemp -d "${TMPDIR:-/tmp}/zv_bench.XXXXXX")
# A run with the agent down makes every submission durable with its own
# fsync; on a disk that costs milliseconds per line and would measure the
# disk, not the client.  Those runs work on a memory file system when there
# is one (set ZV_BENCH_DOWN_DIR to choose another place).
down_parent=${ZV_BENCH_DOWN_DIR:-/dev/shm}
[ -d "$down_parent" ] && [ -w "$down_parent" ] || down_parent=${TMPDIR:-/tmp}
down_work=$(mktemp -d "$down_parent/zv_bench_down.XXXXXX")

# shellcheck source=bench/lib.sh
source "$root/bench/lib.sh"
trap 'stop_agent; rm -rf "$work" "$down_work"' EXIT

# agent_down DIR: leaves in DIR a runtime configuration naming a loopback
# port on which nothing listens any more.
agent_down() {
  start_agent "$1"
  stop_agent
}

# make_log FILE LINES: a recovery log, plain ZVXML messages and data-map
# lines taking turns.
make_log() {
  awk -v n="$2" 'BEGIN {
    for (i = 1; i <= n; i++) {
      if (i % 2) printf "<transaction><header><method>Add</method><subclass>Alert</subclass></header><data><host>db%d</host></data></transaction>\n", i
      else printf "%d \"cust7\" \"disk\" \"full %d\"\n", i, i
    }
  }' >"$1"
}

declare -A wall
serial=0

# measure NAME BYTES SHOWN RUNS PARENT PREPARE INPUT STDOUT CHECK -- CLIENT ARGS...
# Runs the client RUNS times, each in a fresh directory below PARENT: the
# INPUT file (if any) is copied in, PREPARE (a command given the directory)
# starts the agent or leaves it down, the client runs under /usr/bin/time
# with its standard output to STDOUT (a name in the directory, or
# /dev/null), and CHECK (run in the directory) says whether the run did its
# work.  Prints the fastest run's row; BYTES is what peak memory is set
# against.
measure() {
  local name=$1 bytes=$2 shown=$3 runs=$4 parent=$5 prepare=$6 input=$7 out=$8 check=$9
  shift 10
  local best_seconds="" best_kib=0 status=0 verdict="" run
  for run in $(seq "$runs"); do
    serial=$((serial + 1))
    local dir="$parent/run$serial"
    mkdir "$dir"
    cp "$root/build/ZVClient" "$dir/ZVClient"  # it reads its configuration beside itself
    [ -z "$input" ] || cp "$input" "$dir/"
    $prepare "$dir"
    status=0
    (cd "$dir" && /usr/bin/time -f '%e %M' -o time.txt ./ZVClient "$@" >"$out" 2>client.err) || status=$?
    stop_agent
    local seconds kib
    read -r seconds kib < <(tail -n 1 "$dir/time.txt")
    local this_verdict
    this_verdict=$(cd "$dir" && eval "$check") || true
    # Runs that disagree show every verdict.
    case "/$verdict/" in
      *"/$this_verdict/"*) ;;
      *) verdict=${verdict:+$verdict/}$this_verdict ;;
    esac
    if [ -z "$best_seconds" ] || awk -v a="$seconds" -v b="$best_seconds" 'BEGIN { exit !(a < b) }'; then
      best_seconds=$seconds
      best_kib=$kib
    fi
    rm -rf "$dir"
  done
  wall[$name]=$best_seconds
  awk -v n="$name" -v d="$shown" -v s="$best_seconds" -v k="$best_kib" -v b="$bytes" -v x="$status" -v c="$verdict" \
    'BEGIN { printf "%-34s %12s %9.2f %10.1f %9.2fx %5d  %s\n", n, d, s, k / 1024, k * 1024 / b, x, c }'
}

ratio() {
  awk -v a="${wall[$1]}" -v b="${wall[$2]}" -v what="$3" \
    'BEGIN { if (a > 0) printf "  %-44s %5.2f  (linear: about 4)\n", what ":", b / a; else printf "  %s: too fast to tell\n", what }'
}

rule() { printf '%s\n' "-------------------------------------------------------------------------------------------------"; }

for mib in $SMALL_MIB $BIG_MIB; do make_line "$work/line$mib.txt" $((mib * MIB)); done
cp "$work/line$SMALL_MIB.txt" "$work/line$BIG_MIB.txt" "$down_work/"
for lines in $FEW_LINES $MANY_LINES; do make_log "$work/recover$lines.log" "$lines"; done
cp "$work/recover$FEW_LINES.log" "$work/recover$MANY_LINES.log" "$down_work/"

printf '%-34s %12s %9s %10s %10s %5s  %s\n' case data "wall s" "peak MiB" peak/data exit check
rule

# A message from a submit file, agent up.  Linear: peak memory is the line
# buffer plus one 256 KiB piece of the request, through which the encoded
# form is sent; about the size of the message.  The stand-in agent takes a request of up
# to 64 MiB; a larger one it drains and answers with 400 (exit 50, "refused"
# below), so the client's work is whole either way: read the line, encode
# it, send it, read the reply.  Whatever the agent does before it answers is
# in the wall time too.
measure "message ${BIG_MIB} MiB, agent up" $((BIG_MIB * MIB)) "${BIG_MIB} MiB" $DATA_RUNS "$work" \
  start_agent "$work/line$BIG_MIB.txt" client.out \
  'if [ -e logs/ZVClient.log ]; then echo LOGGED; elif grep -q "Bad Request" client.err; then echo "refused (400)"; else echo delivered; fi' \
  -- --submit-file "line$BIG_MIB.txt"

# Messages while the agent is down: each goes to the recovery log, which
# leaves the client's own work alone (read, fail to connect, log).  Linear:
# 64 MiB takes about four times as long as 16 MiB; peak memory is the line
# buffer plus the copies made for the log record, a fixed multiple.
for mib in $SMALL_MIB $BIG_MIB; do
  measure "message ${mib} MiB, agent down" $((mib * MIB)) "${mib} MiB" $DATA_RUNS "$down_work" \
    agent_down "$down_work/line$mib.txt" client.out \
    "[ \$(stat -c %s logs/ZVClient.log) -eq $((mib * MIB + 1)) ] && echo logged || echo NOT-LOGGED" \
    -- --submit-file "line$mib.txt"
done

# A reply fetched for a client, written to /dev/null.  Linear: 64 MiB takes
# about four times as long as 16 MiB; peak memory is the body's text (tags
# are recorded only as far as the agent-message lookups need), about the
# size of the reply.
for mib in $SMALL_MIB $BIG_MIB; do
  reply_agent() { start_agent "$1" --reply "body-mib=$mib"; }
  measure "reply ${mib} MiB" $((mib * MIB)) "${mib} MiB" $DATA_RUNS "$work" \
    reply_agent "" /dev/null '[ ! -s client.err ] && echo ok || echo ERRORS' \
    -- --get-response c
done

# Recovery logs resubmitted one request per line, agent up.  Linear: four
# times the lines take about four times as long; peak memory stays flat
# (one line at a time), so peak/data falls as the log grows.
for lines in $FEW_LINES $MANY_LINES; do
  measure "recovery ${lines} lines, agent up" "$(stat -c %s "$work/recover$lines.log")" "$lines lines" \
    $RECOVERY_RUNS "$work" start_agent "$work/recover$lines.log" client.out \
    '[ ! -e logs/ZVClient.log ] && echo delivered || echo "LOGGED $(wc -l <logs/ZVClient.log)"' \
    -- --recover-file "recover$lines.log"
done

# The same recoveries with the agent down: every line fails at once and is
# appended to a fresh recovery log, which isolates reading, splitting and
# logging from the network.  Linear as above.
for lines in $FEW_LINES $MANY_LINES; do
  measure "recovery ${lines} lines, agent down" "$(stat -c %s "$down_work/recover$lines.log")" "$lines lines" \
    $RECOVERY_RUNS "$down_work" agent_down "$down_work/recover$lines.log" client.out \
    "[ \$(wc -l <logs/ZVClient.log) -eq $lines ] && echo relogged || echo MISSING" \
    -- --recover-file "recover$lines.log"
done

rule
echo "time ratios (fastest runs):"
ratio "message ${SMALL_MIB} MiB, agent down" "message ${BIG_MIB} MiB, agent down" "message, agent down, ${BIG_MIB} / ${SMALL_MIB} MiB"
ratio "reply ${SMALL_MIB} MiB" "reply ${BIG_MIB} MiB" "reply, ${BIG_MIB} / ${SMALL_MIB} MiB"
ratio "recovery ${FEW_LINES} lines, agent up" "recovery ${MANY_LINES} lines, agent up" "recovery, agent up, ${MANY_LINES} / ${FEW_LINES} lines"
ratio "recovery ${FEW_LINES} lines, agent down" "recovery ${MANY_LINES} lines, agent down" "recovery, agent down, ${MANY_LINES} / ${FEW_LINES} lines"
echo "agent-down runs kept their recovery logs in $down_parent"
