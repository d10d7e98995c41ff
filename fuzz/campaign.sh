#!/bin/sh
# A long fuzzing campaign: every target of the fuzz preset in turn, one at a
# time and at the lowest priority, each until it has run RUNS inputs or
# used its share of the time left before SECONDS have passed in all.  Each
# target grows its own corpus, from its seeds, under OUT/<target>/corpus
# (kept between campaigns) and writes OUT/<target>.log; an input that fails
# is kept as OUT/<target>/crash-* or similar.  Needs a built fuzz preset.
#   fuzz/campaign.sh [RUNS [SECONDS [OUT]]]    (10000000, 3600, build-fuzz/campaign)
# Further libFuzzer flags may be given in ZV_FUZZ_FLAGS, e.g. -max_len=1024.
set -eu
cd "$(dirname "$0")/.."
runs=${1:-10000000}
seconds=${2:-3600}
out=${3:-build-fuzz/campaign}
targets="xml_parser line_reader map_data reply transaction encode log_record uri"
# A smaller quarantine than the default keeps freed blocks from being handed
# out again just as well for short-lived inputs, at far fewer page faults.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=16}

mkdir -p "$out"
deadline=$(($(date +%s) + seconds))
left=8
for target in $targets; do
  share=$(( (deadline - $(date +%s)) / left ))
  left=$((left - 1))
  [ "$share" -gt 0 ] || share=1
  mkdir -p "$out/$target/corpus"
  echo "$target: up to $runs inputs or $share s" >&2
  # shellcheck disable=SC2086
  nice -n 19 "build-fuzz/fuzz_$target" -runs="$runs" -max_total_time="$share" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$out/$target/" ${ZV_FUZZ_FLAGS:-} \
    "$out/$target/corpus" "fuzz/corpus/$target" >"$out/$target.log" 2>&1 || {
    echo "$target: FAILED, see $out/$target.log" >&2
    continue
  }
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec)|^Done' "$out/$target.log" >&2 || true
done
