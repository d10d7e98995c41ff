# What the benchmark scripts share: starting and stopping the stand-in
# agent (one at a time) and making large messages.  To be sourced, with
# $root set to the source tree.

agent_pid=
port=

stop_agent() {
  if [ -n "$agent_pid" ]; then
    kill "$agent_pid" 2>/dev/null || true
    wait "$agent_pid" 2>/dev/null || true
  fi
  agent_pid=
}

# start_agent DIR [AGENT OPTIONS...]: starts the agent with its runtime
# configuration in DIR, waits (bounded) for its "port N" line and sets
# $port.  The idle limit only guards against a script that died without its
# trap.
start_agent() {
  local dir=$1
  shift
  stop_agent
  "$root/build/zvagent" --runtime-config "$dir" --exit-after-idle 120000 "$@" \
    >"$dir/agent.out" 2>"$dir/agent.err" &
  agent_pid=$!
  local try
  for try in $(seq 200); do
    port=$(awk '/^port /{print $2}' "$dir/agent.out" 2>/dev/null)
    [ -n "$port" ] && return 0
    sleep 0.05
  done
  echo "$(basename "$0"): the agent did not start (see $dir/agent.err)" >&2
  exit 1
}

# make_line FILE BYTES: one line of BYTES bytes (and its LF) of ZVXML
# markup, words and blanks.  About a fifth of its bytes are neither letters,
# digits nor blanks and take three bytes each in the form encoding, which is
# thus about 1.4 times as long as the line.
make_line() {
  head -c "$2" < <(yes '<field name="host">db1 disk full 42% on /var</field>' | tr -d '\n') >"$1"
  echo >>"$1"
}
