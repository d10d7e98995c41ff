#!/usr/bin/env bash
# Builds the client and the stand-in agent and shows a whole round trip:
# submissions, the agent's status, a response fetched for a client, and a
# submission that fails while the agent is down and is recovered once it is
# back.
#
# Every command is printed as it runs, quoted for the shell, and what it
# writes follows as comment lines, so the whole output can be pasted into a
# shell to do it all again.  Everything happens in a fresh temporary folder
# holding copies of both programs, the runtime configuration the agent writes
# beside ./ZVClient, and the recovery log; the agent is stopped and the
# folder removed at the end, so no configuration naming a stopped agent is
# left behind.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

output=$(mktemp)
work=
agent=
cleanup() {
  if [ -n "$agent" ]; then kill "$agent" 2>/dev/null || true; wait "$agent" 2>/dev/null || true; fi
  if [ -n "$work" ]; then rm -rf "$work"; fi
  rm -f "$output"
}
trap cleanup EXIT

# One word, quoted for the shell when it needs it.
quote() {
  case $1 in
    '') printf "''" ;;
    *[!A-Za-z0-9_./:=%+,@-]*) printf "'%s'" "${1//\'/\'\\\'\'}" ;;
    *) printf '%s' "$1" ;;
  esac
}

note() { printf '# %s\n' "$@"; }

# Prints the command text, runs it in this shell and prints what it wrote as
# comments.  Sets `status`.
show_and_run() {
  printf '%s\n' "$1"
  status=0
  eval "$1" >"$output" 2>&1 || status=$?
  awk '{ print "#   " $0 }' "$output"
}

# A step of the walk-through that must work.
step() {
  show_and_run "$1"
  if [ "$status" -ne 0 ]; then note "failed with exit status $status"; exit 1; fi
}

# A run of the client, given as words, and its exit status.
client() {
  local text= word
  for word; do text+="${text:+ }$(quote "$word")"; done
  show_and_run "$text"
  note "  exit status $status"
  echo
}

note "Build the client and the stand-in agent."
step "cd $(quote "$root")"
step "cmake --preset default >/dev/null"
step "cmake --build --preset default --target ZVClient zvagent >/dev/null"
echo
note "A fresh folder with copies of both programs."
step 'work=$(mktemp -d) && cd "$work"'
step "cp $(quote "$root/build/ZVClient") $(quote "$root/build/zvagent") ."
echo
note "The stand-in agent takes a free port on 127.0.0.1, writes it to" \
     "etc/.runtime.xml, where ./ZVClient looks for it, and prints 'port N'."
step "./zvagent --runtime-config . --exit-after-idle 60000 --queue-response ops $(quote \
  '<transaction><header><method>Add</method><subclass>Reply</subclass></header><data><text>hello ops</text></data></transaction>') >agent.out 2>&1 &"
step 'agent=$!'
step 'for i in $(seq 100); do grep -q "^port " agent.out && break; sleep 0.05; done; port=$(sed -n "s/^port //p" agent.out)'
step 'echo "port $port"; cat etc/.runtime.xml'
echo
client ./ZVClient '<transaction><header><method>Add</method><subclass>Alert</subclass></header><data><host>db1</host></data></transaction>'
client ./ZVClient 'disk full on db1'
step "printf 'zvagent_subclass=Alert\\nhost=%%HOSTNAME%%\\nmsg=#3\\n' >alert.map"
step 'cat alert.map'
echo
client HOSTNAME=db1 ./ZVClient --submit-mapping-file alert.map 'disk <90%>'
client ./ZVClient --map-data cust7 disk 'full at 90%'
client ./ZVClient --get-status
client ./ZVClient --get-response ops --get-response-max 3

note "The agent stops; what cannot be delivered goes to logs/ZVClient.log."
step 'kill "$agent"; wait "$agent" || true'
echo
client ./ZVClient '<transaction><data><late>yes</late></data></transaction>'
client ./ZVClient 'a Classic message'
client ./ZVClient --map-data-transaction-id 42 --map-data cust7 late
note "The log; cat -v shows the leading byte of the marked lines as ^^."
step 'cat -v logs/ZVClient.log'
echo

note "The agent is back on the same port; the recovery sends the log again."
step './zvagent --port "$port" --runtime-config . --exit-after-idle 60000 >agent.out 2>&1 &'
step 'agent=$!'
step 'for i in $(seq 100); do grep -q "^port " agent.out && break; sleep 0.05; done'
echo
client ./ZVClient --recover-file logs/ZVClient.log
client ./ZVClient --get-status

note "Stop the agent and remove the folder with its configuration."
step 'kill "$agent"; wait "$agent" || true; agent='
step "cd $(quote "$root") && rm -rf \"\$work\" && work="
