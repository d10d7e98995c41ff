#!/bin/sh
# A short fuzzing run of one target from its checked-in seeds, for CI: new
# inputs go to a scratch folder in the build tree, never into the seeds.
#   smoke.sh TARGET SEED_DIR SCRATCH_DIR SECONDS
set -eu
target=$1 seeds=$2 scratch=$3 seconds=$4
rm -rf "$scratch"
mkdir -p "$scratch/corpus"
exec "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$scratch/" \
  "$scratch/corpus" "$seeds"
