#!/usr/bin/env bash
# Builds the client and the stand-in agent, starts the agent on a free
# loopback port, and shows a whole round trip: submissions, the agent's
# status, a response fetched for a client, and a submission that fails while
# the agent is down and is recovered once it is back.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
cmake --preset default >/dev/null
cmake --build --preset default --target ZVClient zvagent >/dev/null

work=$(mktemp -d)
agent_pid=
stop_agent() {
  if [ -n "$agent_pid" ]; then kill "$agent_pid" 2>/dev/null || true; wait "$agent_pid" 2>/dev/null || true; fi
  agent_pid=
}
trap 'stop_agent; rm -rf "$work"' EXIT

# The agent writes build/etc/.runtime.xml, where the client looks for its port.
start_agent() {
  build/zvagent --port "${1:-0}" --runtime-config "$root/build" --exit-after-idle 60000 \
    --queue-response ops '<transaction><header><method>Add</method><subclass>Reply</subclass></header><data><text>hello ops</text></data></transaction>' \
    >"$work/agent.out" &
  agent_pid=$!
  for _ in $(seq 100); do grep -q '^port ' "$work/agent.out" 2>/dev/null && break; sleep 0.05; done
  port=$(sed -n 's/^port //p' "$work/agent.out")
}

client() {
  echo "\$ ZVClient $*"
  local status=0 out
  out=$(cd "$work" && "$root/build/ZVClient" "$@") || status=$?
  if [ -n "$out" ]; then printf '%s\n' "$out"; fi
  echo "[exit status $status]"
  echo
}

start_agent
echo "stand-in agent listening on 127.0.0.1:$port"
echo
client '<transaction><header><method>Add</method><subclass>Alert</subclass></header><data><host>db1</host></data></transaction>'
client 'disk full on db1'
printf 'zvagent_subclass=Alert\nhost=%%HOSTNAME%%\nmsg=#3\n' >"$work/alert.map"
echo "alert.map:"; cat "$work/alert.map"; echo
HOSTNAME=db1 client --submit-mapping-file alert.map 'disk <90%>'
client --map-data cust7 disk 'full at 90%'
client --get-status
client --get-response ops --get-response-max 3

stop_agent
echo "--- the agent is down now ---"
client '<transaction><data><late>yes</late></data></transaction>'
client 'a Classic message'
client --map-data-transaction-id 42 --map-data cust7 late
echo "recovery log $work/logs/ZVClient.log (cat -v shows the marked lines' leading byte as ^^):"
cat -v "$work/logs/ZVClient.log"
echo

start_agent "$port"
echo "--- the agent is back on port $port ---"
client --recover-file logs/ZVClient.log
client --get-status
