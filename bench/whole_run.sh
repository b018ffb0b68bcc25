#!/usr/bin/env bash
# Times whole migrations of a large generated profile archive beside the archive tools a user
# would otherwise reach for, on the same archive in the same session:
#   OrvexMigrate without rules, OrvexMigrate with the 100 mixed rules of bench/mixed_rules.py,
#   unzip -q + zip -qr, bsdtar -xf + bsdtar -a -cf.
# Every run unpacks to and packs into fresh paths; the median of RUNS runs is reported, with the
# peak memory of one more run.
#
# Usage: bench/whole_run.sh [BUILD_DIR]     (default build/release)
# Environment: RUNS (default 3), SCALE (default 1), SEED (default 1), WORK (default: a new
#              folder under $TMPDIR or /tmp, removed at the end).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/release}" && pwd)
tool="$build/src/OrvexMigrate/OrvexMigrate"
runs=${RUNS:-3}
work=${WORK:-$(mktemp -d "${TMPDIR:-/tmp}/orvex-bench.XXXXXX")}
[ -n "${WORK:-}" ] || trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tmp"

[ -f "$work/profile.zip" ] ||
  python3 /work/shared/bench/gen_profile.py -q -o "$work/profile.zip" --seed "${SEED:-1}" \
    --scale "${SCALE:-1}"
python3 "$root/bench/mixed_rules.py" "$work/profile.zip" >"$work/rules.xml"
echo '<migration/>' >"$work/none.xml"

n=0
elapsed=0
# timed COMMAND: runs it once in a fresh numbered folder $work/r$n; its wall-clock seconds go to
# $elapsed.
timed() {
  n=$((n + 1))
  mkdir -p "$work/r$n"
  sync
  local start end
  start=$(date +%s.%N)
  (cd "$work/r$n" && eval "$1") >/dev/null 2>&1 || { echo "failed: $1" >&2; exit 1; }
  end=$(date +%s.%N)
  elapsed=$(echo "$end - $start" | bc)
}

median() { sort -n | awk '{a[NR]=$1} END {printf "%.2f", a[int((NR+1)/2)]}'; }

measure() {  # measure NAME COMMAND
  local times=()
  for _ in $(seq "$runs"); do
    timed "$2"
    times+=("$elapsed")
    rm -rf "$work/r$n"
  done
  n=$((n + 1))
  mkdir -p "$work/r$n"
  (cd "$work/r$n" && /usr/bin/time -v -o "$work/time.txt" bash -c "$2") >/dev/null 2>&1
  rm -rf "$work/r$n"
  local peak
  peak=$(awk '/Maximum resident/ {printf "%.0f", $6 / 1024}' "$work/time.txt")
  printf '| %s | %s | %s | %s |\n' "$1" "$(printf '%s\n' "${times[@]}" | median)" \
    "$(printf '%s\n' "${times[@]}" | sort -n | head -1 | xargs printf '%.2f')" "$peak"
}

z="$work/profile.zip"
echo "archive: $(du -m "$z" | cut -f1) MB, $(unzip -Z1 "$z" | wc -l) entries; load $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "| run | median s | min s | peak RSS MiB |"
echo "|---|---|---|---|"
measure "OrvexMigrate, no rules" \
  "TMPDIR='$work/tmp' '$tool' /INPUT '$z' /OUTPUT out.zip /XML '$work/none.xml'"
measure "OrvexMigrate, 100 mixed rules" \
  "TMPDIR='$work/tmp' '$tool' /INPUT '$z' /OUTPUT out.zip /XML '$work/rules.xml'"
measure "unzip -q + zip -qr" "unzip -q '$z' -d t && cd t && zip -qr ../out.zip ."
measure "bsdtar -xf + bsdtar -a -cf" "mkdir t && bsdtar -xf '$z' -C t && cd t && bsdtar -a -cf ../out.zip ."
