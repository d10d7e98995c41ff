#!/usr/bin/env bash
# The client side by side with curl (/usr/bin/curl) against the same
# stand-in agent on 127.0.0.1: for each case both programs do the same
# exchanges, taking turns run by run, and the medians of wall time and of
# peak resident memory are compared.  Run by hand (never from CTest); it
# takes about a minute on two cores.
#
#   bench/vs_curl.sh [RUNS]      (RUNS per program and case, default 5)
#
# Cases:
#   short      one process, one short message (POST)
#   10,000     10,000 messages from one --submit-file; curl: one process
#              given the same 10,000 requests with -K (a fresh connection
#              each, as the client makes)
#   msg N MiB  one N MiB message, the only line of a submit file; curl
#              posts the body encoded beforehand
#   status / response N MiB
#              an N MiB reply to --get-status / --get-response, written to
#              /dev/null
#   https short, https 10,000
#              the first two over https: the agent takes TLS itself
#              (--tls) with a certificate made for the run (both programs
#              trust its CA); skipped without openssl.  The 10,000 case
#              runs HTTPS_RUNS times (default 1).
# "linear" rows divide the 64 MiB medians by the 16 MiB ones, net of the
# short case (the fixed cost of a run): about 4 means linear.
#
# curl is given the form text the client sends, so that both bodies are
# alike on the wire.
#
# Wall time is bash's own clock around the run alone; peak memory comes
# from one more run of each under /usr/bin/time, so that time's own start
# is not in the wall figures.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-5}
curl=/usr/bin/curl
for tool in "$curl" /usr/bin/time; do
  [ -x "$tool" ] || { echo "vs_curl.sh: needs $tool" >&2; exit 1; }
done
[ -f "$root/build/CMakeCache.txt" ] || cmake --preset default >/dev/null
cmake --build "$root/build" --target ZVClient zvagent >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/zv_vs_curl.XXXXXX")
# shellcheck source=bench/lib.sh
source "$root/bench/lib.sh"
trap 'stop_agent; rm -rf "$work"' EXIT
cp "$root/build/ZVClient" "$work/ZVClient"  # it reads its configuration beside itself

# script_of LINE COUNT: a reply script of COUNT times LINE, one line per
# exchange the case will make (both programs, every run, the memory runs).
script_of() {
  local line=$1 count=$2 i
  for i in $(seq "$count"); do echo "$line"; done >"$work/script"
}

# record_body LINE OUT: the form text the client sends for the one line of
# LINE, as the agent recorded it (the request's last line), so that curl
# sends the very same bytes.
record_body() {
  start_agent "$work" --record "$work/recorded"
  (cd "$work" && ./ZVClient --submit-file "$(basename "$1")" >/dev/null 2>&1) || true
  stop_agent
  tail -n 1 "$work/recorded.1" >"$2"
  rm -f "$work/recorded.1"
}

# median of the numbers on standard input
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# compare NAME BYTES 'CLIENT COMMAND' 'CURL COMMAND': runs both in turns,
# RUNS times each, in $work with output to /dev/null; prints medians, the
# ratio and peak memory (also as a multiple of BYTES when BYTES > 0).
declare -A median_of
compare() {
  local name=$1 bytes=$2 client=$3 other=$4 run
  : >"$work/a.times"
  : >"$work/b.times"
  local TIMEFORMAT=%3R
  for run in $(seq "$runs"); do
    { time (cd "$work" && eval "$client" >/dev/null 2>>"$work/client.err") ; } 2>>"$work/a.times" || true
    { time (cd "$work" && eval "$other" >/dev/null 2>>"$work/curl.err") ; } 2>>"$work/b.times" || true
  done
  local a b a_kib b_kib
  a=$(median <"$work/a.times")
  b=$(median <"$work/b.times")
  a_kib=$(cd "$work" && /usr/bin/time -f %M sh -c "exec $client" 2>&1 >/dev/null | tail -n 1)
  b_kib=$(cd "$work" && /usr/bin/time -f %M sh -c "exec $other" 2>&1 >/dev/null | tail -n 1)
  median_of[$name]=$a
  awk -v n="$name" -v a="$a" -v b="$b" -v ak="$a_kib" -v bk="$b_kib" -v d="$bytes" 'BEGIN {
      share = d > 0 ? sprintf("%.2fx", ak * 1024 / d) : "-"
      printf "%-22s %11.2f %11.2f %7.2f %10.1f %10.1f %8s\n", n, a * 1000, b * 1000, a / b, ak / 1024, bk / 1024, share
    }'
}

linear() {
  awk -v what="$1" -v big="${median_of[$2]}" -v small="${median_of[$3]}" -v fixed="${median_of[short]}" \
    'BEGIN { printf "  %-40s %5.2f  (linear: about 4, at most 4.5)\n", what, (big - fixed) / (small - fixed) }'
}

readonly MIB=$((1 << 20))
for mib in 16 64; do
  make_line "$work/line$mib.txt" $((mib * MIB))
  record_body "$work/line$mib.txt" "$work/body$mib.txt"
done
awk 'BEGIN { for (i = 1; i <= 10000; i++) printf "disk %d full on db%d <at> 42%%\n", i, i % 7 }' >"$work/many.txt"
awk -v url="http://127.0.0.1:PORT/agent" '{
    gsub(/%/, "%25"); gsub(/ /, "+"); gsub(/</, "%3C"); gsub(/>/, "%3E")
    if (NR > 1) print "next"
    printf "url = \"%s\"\noutput = \"/dev/null\"\n", url
    printf "data-binary = \"message=%s\"\n", $0
  }' "$work/many.txt" >"$work/many.curl.in"

printf '%-22s %11s %11s %7s %10s %10s %8s\n' case "client ms" "curl ms" ratio "client MiB" "curl MiB" "peak/data"
printf '%s\n' "-----------------------------------------------------------------------------------------"

# curl_post BODY-FILE: a curl command posting the file as the client would.
curl_post() {
  echo "$curl -s -o /dev/null -H Expect: --data-binary @$1 http://127.0.0.1:$port/agent"
}

start_agent "$work"
printf 'message=disk+full+on+db1' >"$work/short.txt"
compare short 0 './ZVClient "disk full on db1"' "$(curl_post short.txt)"
sed "s/PORT/$port/" "$work/many.curl.in" >"$work/many.curl"
compare "10,000 messages" 0 './ZVClient --submit-file many.txt' "$curl -s -K many.curl"
for mib in 16 64; do
  start_agent "$work"
  compare "msg $mib MiB" $((mib * MIB)) "./ZVClient --submit-file line$mib.txt" "$(curl_post body$mib.txt)"
done
for mib in 16 64; do
  script_of "body-mib=$mib" $((4 * runs + 8))
  start_agent "$work" --script "$work/script"
  compare "status $mib MiB" $((mib * MIB)) './ZVClient --get-status' \
    "$curl -s -o /dev/null http://127.0.0.1:$port/agent/status?"
  compare "response $mib MiB" $((mib * MIB)) './ZVClient --get-response c' \
    "$curl -s -o /dev/null http://127.0.0.1:$port/agent?client=c"
done
if command -v openssl >/dev/null; then
  (cd "$work" &&
    openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj /CN=bench-ca &&
    openssl req -newkey rsa:2048 -nodes -keyout tls.key -out tls.csr -subj /CN=localhost &&
    printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\n' >tls.ext &&
    openssl x509 -req -in tls.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out tls.pem -days 2 \
      -extfile tls.ext && cat tls.pem tls.key >tls.both) >/dev/null 2>&1
  start_agent "$work" --tls "$work/tls.both"
  https="https://127.0.0.1:$port/agent"
  export ZVCLIENT_CA_FILE=$work/ca.pem
  compare "https short" 0 "./ZVClient --http-post $https 'disk full on db1'" \
    "$curl -s -o /dev/null --cacert ca.pem -H Expect: --data-binary @short.txt $https"
  sed "s|http://127.0.0.1:PORT/agent|$https\"\ncacert = \"ca.pem|" "$work/many.curl.in" >"$work/many.https.curl"
  plain_runs=$runs
  runs=${HTTPS_RUNS:-1}
  compare "https 10,000" 0 "./ZVClient --http-post $https --submit-file many.txt" \
    "$curl -s -K many.https.curl"
  runs=$plain_runs
  unset ZVCLIENT_CA_FILE
fi
stop_agent
printf '%s\n' "-----------------------------------------------------------------------------------------"
echo "64 / 16 MiB, net of the short case:"
linear "message" "msg 64 MiB" "msg 16 MiB"
linear "status reply" "status 64 MiB" "status 16 MiB"
linear "response reply" "response 64 MiB" "response 16 MiB"
if [ -s "$work/client.err" ]; then
  echo "the client reported (first lines):"
  head -n 5 "$work/client.err"
fi
