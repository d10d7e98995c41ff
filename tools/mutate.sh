#!/usr/bin/env bash
# Mutation check: plants one plausible fault at a time (a mutant from
# tools/mutants.txt) into a copy of the source tree, rebuilds it, runs the
# default test preset and tells whether the suite noticed (killed) or not
# (survived).  The developer's tree is never written to: the copy lives
# outside it and keeps its build folder between mutants and between runs, so
# each mutant costs an incremental build of the file it touches.
#
#   tools/mutate.sh [--list] [--file LIST] [SELECTOR...]
#
#   SELECTOR   a mutant number (7), a range of numbers (3-9) or a mutant name
#              (memory-no-wipe); no selector runs them all
#   --list     list the mutants and check that each applies; build nothing
#   --file     another mutant list (default tools/mutants.txt)
#
# Environment:
#   ZV_MUTATE_DIR      the copy and its build folder
#                      (default ${TMPDIR:-/tmp}/zv-mutate-<checksum of the repo path>)
#   ZV_MUTATE_LIMIT    seconds one mutant's test run may take (default 900);
#                      a run cut by the limit counts as killed
#
# Exit status: 0 every mutant killed, 1 some survived, 2 a mutant does not
# apply (its text is not found exactly once) or does not build, the
# unmutated suite fails, or the command line is wrong.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
list=$root/tools/mutants.txt
list_only=0
selectors=()
while (($#)); do
  case $1 in
    --list) list_only=1 ;;
    --file) shift; list=${1:?--file needs a path} ;;
    -h | --help) sed -n '2,/^set -uo/{/^set -uo/d;s/^# \{0,1\}//;p}' "$0"; exit 0 ;;
    -*) echo "mutate.sh: unknown option $1" >&2; exit 2 ;;
    *) selectors+=("$1") ;;
  esac
  shift
done

# --- The list --------------------------------------------------------------
# Records of "key: value" lines, each starting with "name:"; "find:" and
# "replace:" lines repeat to make texts of several lines.  Exactly one space
# after the colon is dropped, the rest of the line is the text.
names=() files=() breaks=() finds=() repls=()
read_list() {
  local line key value n=-1 lineno=0 has_find=() has_repl=()
  while IFS= read -r line || [ -n "$line" ]; do
    lineno=$((lineno + 1))
    [[ -z $line || $line == '#'* ]] && continue
    key=${line%%:*}
    value=${line#*:}
    value=${value# }
    [[ $line == *:* ]] || { echo "$list:$lineno: not a key: value line" >&2; exit 2; }
    if [ "$key" = name ]; then
      n=$((n + 1))
      names[n]=$value files[n]='' breaks[n]='' finds[n]='' repls[n]=''
      has_find[n]=0 has_repl[n]=0
      continue
    fi
    ((n >= 0)) || { echo "$list:$lineno: $key before the first name:" >&2; exit 2; }
    case $key in
      file) files[n]=$value ;;
      breaks) breaks[n]=$value ;;
      find)
        ((has_find[n])) && finds[n]+=$'\n'
        finds[n]+=$value has_find[n]=1 ;;
      replace)
        ((has_repl[n])) && repls[n]+=$'\n'
        repls[n]+=$value has_repl[n]=1 ;;
      *) echo "$list:$lineno: unknown key $key" >&2; exit 2 ;;
    esac
  done <"$list"
  local i
  for i in "${!names[@]}"; do
    if [ -z "${files[i]}" ] || [ -z "${breaks[i]}" ] || ((!has_find[i] || !has_repl[i])); then
      echo "$list: mutant ${names[i]} needs file:, breaks:, find: and replace:" >&2
      exit 2
    fi
  done
}
[ -f "$list" ] || { echo "mutate.sh: no mutant list $list" >&2; exit 2; }
read_list

# The numbers (from 1) the selectors pick, in list order.
chosen=()
choose() {
  local i s lo hi picked=()
  if ((${#selectors[@]} == 0)); then
    for i in "${!names[@]}"; do chosen+=("$i"); done
    return
  fi
  for s in "${selectors[@]}"; do
    if [[ $s =~ ^([0-9]+)(-([0-9]+))?$ ]]; then
      lo=${BASH_REMATCH[1]} hi=${BASH_REMATCH[3]:-${BASH_REMATCH[1]}}
      ((lo >= 1 && hi <= ${#names[@]} && lo <= hi)) ||
        { echo "mutate.sh: no mutants $s (1-${#names[@]})" >&2; exit 2; }
      for ((i = lo - 1; i < hi; i++)); do picked[i]=1; done
    else
      local found=0
      for i in "${!names[@]}"; do
        [ "${names[i]}" = "$s" ] && { picked[i]=1; found=1; }
      done
      ((found)) || { echo "mutate.sh: no mutant named $s" >&2; exit 2; }
    fi
  done
  for i in "${!picked[@]}"; do chosen+=("$i"); done
}
choose

# --- Applying a mutant ------------------------------------------------------
# Bash string operations with quoted patterns match literally, so the texts
# need no escaping.  A file is read with a sentinel to keep trailing newlines.
read_file() { local c; c=$(cat -- "$1"; printf x) || return 1; printf '%s' "${c%x}"; }

# Prints the mutated content of file $2 for mutant $1, or fails with the
# reason when the text is not there exactly once.
mutated() {
  local i=$1 content find=${finds[$1]} after
  [ -f "$2" ] || { echo "no file ${files[i]}"; return 1; }
  content=$(read_file "$2"; printf x)
  content=${content%x}
  [[ $content == *"$find"* ]] || { echo "text not found in ${files[i]}"; return 1; }
  after=${content#*"$find"}
  [[ $after == *"$find"* ]] && { echo "text found more than once in ${files[i]}"; return 1; }
  printf '%s' "${content%%"$find"*}${repls[i]}$after"
}

invalid=0
if ((list_only)); then
  for i in "${chosen[@]}"; do
    if why=$(mutated "$i" "$root/${files[i]}"); then
      state=applies
    else
      state="INVALID: $why"
      invalid=$((invalid + 1))
    fi
    printf '%3d %-32s %s\n    %s\n    %s\n' "$((i + 1))" "${names[i]}" "${files[i]}" "${breaks[i]}" "$state"
  done
  ((invalid)) && { echo "$invalid invalid mutant(s)" >&2; exit 2; }
  exit 0
fi

# --- The copy -----------------------------------------------------------------
work=${ZV_MUTATE_DIR:-${TMPDIR:-/tmp}/zv-mutate-$(printf '%s' "$root" | cksum | cut -d' ' -f1)}
limit=${ZV_MUTATE_LIMIT:-900}
tree=$work/tree logs=$work/logs
mkdir -p "$tree" "$logs"
exec 9>"$work/lock"
flock -n 9 || { echo "mutate.sh: another run uses $work" >&2; exit 2; }

# Brings the copy to the developer's tree (tracked and untracked files that
# git does not ignore), copying only what differs so that make sees only
# real changes, and removing what the tree no longer has.
sync_copy() {
  local f wanted
  wanted=$(git -C "$root" ls-files --cached --others --exclude-standard | sort -u)
  while IFS= read -r f; do
    [ -f "$root/$f" ] || continue
    if ! cmp -s -- "$root/$f" "$tree/$f"; then
      mkdir -p -- "$(dirname -- "$tree/$f")"
      cp -- "$root/$f" "$tree/$f" || return 1
    fi
  done <<<"$wanted"
  (cd "$tree" && find . -path ./build -prune -o -type f -print | sed 's|^\./||' | sort) |
    comm -23 - <(printf '%s\n' "$wanted") |
    while IFS= read -r f; do rm -f -- "$tree/$f"; done
}

# The default preset, configured again once per run so that changes of the
# preset reach the copy; linked by lld where it is installed, which makes
# the relinking after each mutant a few seconds shorter.
configure() {
  local linker=()
  command -v ld.lld >/dev/null && linker=(-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld)
  (cd "$tree" && cmake --preset default "${linker[@]}")
}

# Neither the build nor the suite inherits the lock (descriptor 9): a
# process a mutant leaves running must not hold it for the next run.
build() { (cd "$tree" && cmake --build build --target zv_tests -j2) 9>&-; }

# The default test preset, stopping at the first failure.  A test that
# fails is run once more, and a pass then counts: a test that fails now and
# then under load must not kill a mutant it does not notice.  Prints the
# first failing test's name when there is one.  The layout check is left out:
# a mutant's text need not keep the layout, and that is not what it breaks.
run_suite() {
  local log=$1 status
  (cd "$tree" && timeout "$limit" ctest --preset default --stop-on-failure --repeat until-pass:2 \
    -E '^format_check$') >"$log" 2>&1 9>&-
  status=$?
  if ((status == 124)); then
    echo "time limit"
  elif ((status != 0)); then
    sed -n '/The following tests FAILED:/{n;p;q;}' "$log" | sed -E 's/^[[:space:]]*[0-9]+ - //; s/ \(.*//'
  fi
  return "$status"
}

current=''
original=''
restore() {
  [ -n "$current" ] && printf '%s' "$original" >"$current"
  current=''
}
trap 'restore; exit 130' INT TERM
trap restore EXIT

sync_copy || { echo "mutate.sh: cannot copy the tree to $tree" >&2; exit 2; }
echo "copy and build folder: $tree"
echo "building the unmutated tree"
{ configure && build; } >"$logs/baseline-build.log" 2>&1 ||
  { echo "mutate.sh: the unmutated tree does not build, see $logs/baseline-build.log" >&2; exit 2; }

# The suite must pass unmutated, else every mutant would look killed.  A
# pass is remembered for the tree's content, so that runs of a few mutants
# do not pay for it again.
fingerprint=$(cd "$tree" && find . -path ./build -prune -o -path ./tools/mutate.sh -prune \
  -o -path ./tools/mutants.txt -prune -o -type f -print0 | sort -z | xargs -0 cksum | cksum)
if [ "$(cat "$work/baseline-passed" 2>/dev/null)" != "$fingerprint" ]; then
  echo "running the suite on the unmutated tree"
  if ! first=$(run_suite "$logs/baseline-test.log"); then
    echo "mutate.sh: the unmutated suite fails (${first:-?}), see $logs/baseline-test.log" >&2
    exit 2
  fi
  echo "$fingerprint" >"$work/baseline-passed"
fi

killed=0 survived=0 survivors=()
for i in "${chosen[@]}"; do
  n=$((i + 1))
  target=$tree/${files[i]}
  log=$logs/$n-${names[i]}.log
  label=$(printf '%3d %-32s' "$n" "${names[i]}")
  started=$SECONDS
  if ! content=$(mutated "$i" "$target"); then
    echo "$label INVALID   $content"
    invalid=$((invalid + 1))
    continue
  fi
  original=$(read_file "$target"; printf x)
  original=${original%x}
  current=$target
  printf '%s' "$content" >"$target"
  if ! build >"$log" 2>&1; then
    echo "$label INVALID   does not build, see $log"
    invalid=$((invalid + 1))
    restore
    continue
  fi
  if first=$(run_suite "$log.test"); then
    echo "$label SURVIVED  ($((SECONDS - started)) s) ${breaks[i]}"
    survived=$((survived + 1))
    survivors+=("$n ${names[i]}")
  else
    echo "$label killed    ($((SECONDS - started)) s) by ${first:-?}"
    killed=$((killed + 1))
  fi
  restore
done

total=$((killed + survived))
echo
if ((total)); then
  echo "killed $killed of $total ($((killed * 100 / total)) %), survived $survived, invalid $invalid"
else
  echo "no mutant ran, invalid $invalid"
fi
for s in "${survivors[@]}"; do echo "  survived: $s"; done
((invalid)) && exit 2
((survived)) && exit 1
exit 0
