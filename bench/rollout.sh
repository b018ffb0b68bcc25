#!/usr/bin/env bash
# Times OrvexRollout over a share of 40 generated profiles (bench/gen_profile.py, scale 0.02, seeds
# 1-40) with the 100 mixed rules of bench/mixed_rules.py, against the same OrvexMigrate runs under
# GNU parallel at the same -j: `migrate --to` beside parallel's migrations into a folder, and
# `migrate --in-place` (verification and backups by hard link included) on a fresh copy of the
# share. The three alternate, RUNS rounds; each run starts from empty output and backup folders.
# Prints every time, then the medians and their ratios to parallel's.
#
# Usage: bench/rollout.sh [BUILD_DIR]     (default build/release)
# Environment: RUNS (default 5), JOBS (default 2), WORK (default build/bench/rollout; the share
#              generated there is kept and used again).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/release}" && pwd)
migrate="$build/src/OrvexMigrate/OrvexMigrate"
rollout="$build/src/OrvexMigrate/OrvexRollout"
runs=${RUNS:-5}
jobs=${JOBS:-2}
work=${WORK:-$root/build/bench/rollout}
mkdir -p "$work/share"
for seed in $(seq 40); do
  z="$work/share/user$seed/profile.zip"
  [ -f "$z" ] || { mkdir -p "${z%/*}" && python3 "$root/bench/gen_profile.py" -q --scale 0.02 \
                     --seed "$seed" -o "$z"; }
done
rules="$work/rules.xml"
[ -f "$rules" ] || python3 "$root/bench/mixed_rules.py" "$work/share/user1/profile.zip" >"$rules"
(cd "$work/share" && find . -name '*.zip' -printf '%P\n' | LC_ALL=C sort) >"$work/list"

seconds() { local start=$(date +%s.%N); "$@" >/dev/null 2>&1 || true; echo "$(date +%s.%N) - $start" | bc; }
parallel_run() {
  parallel --will-cite -j "$jobs" "mkdir -p '$work/out'/{//} && '$migrate' /INPUT '$work/share'/{} \
    /OUTPUT '$work/out'/{} /XML '$rules' /LOGFILE '$work/out'/{.}.log /OVERWRITE" :::: "$work/list"
}
declare -A times
for run in $(seq "$runs"); do
  rm -rf "$work/out" && mkdir -p "$work/out"
  times[parallel]+=" $(seconds parallel_run)"
  rm -rf "$work/out"
  times[to]+=" $(seconds "$rollout" migrate "$rules" "$work/share" --to "$work/out" -j "$jobs" --quiet)"
  rm -rf "$work/inplace" "$work/backup" "$work/out" && cp -r "$work/share" "$work/inplace"
  times[in-place]+=" $(seconds "$rollout" migrate "$rules" "$work/inplace" --in-place --backup \
                         "$work/backup" -j "$jobs" --quiet)"
  echo "round $run:$(for k in parallel to in-place; do printf ' %s %s' "$k" "${times[$k]##* }"; done)"
done
median() { tr ' ' '\n' <<<"$1" | sed '/^$/d' | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
base=$(median "${times[parallel]}")
for k in parallel to in-place; do
  m=$(median "${times[$k]}")
  printf '%-9s median %.2f s (%.2f of parallel)\n' "$k" "$m" "$(echo "$m / $base" | bc -l)"
done
