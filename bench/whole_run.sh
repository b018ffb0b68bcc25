#!/usr/bin/env bash
# Times whole migrations of a large generated profile archive (bench/gen_profile.py) beside the
# archive tools a user would otherwise reach for, on the same archive in the same session:
#   OrvexMigrate without rules, OrvexMigrate with the 100 mixed rules of bench/mixed_rules.py,
#   unzip -q + zip -qr (deflate level 6), bsdtar -xf + bsdtar -a -cf, and the quickest route a
#   script can take with those tools: unzip, copy the input archive, zip -FS (file sync: every
#   unchanged entry is copied as it is, only what changed is deflated); and the floor of any
#   route, reading the archive (cat) and copying it (cp). Each run's time is also given as a share
#   of the unzip + zip route's, of the zip -FS route's and of cp's.
# Every run starts in an empty folder. The times are those of hyperfine when it is installed
# (scripts/install-deps.sh bench), else of a plain loop; one more run of each measures the peak
# memory and leaves the output archive whose size is reported.
#
# Usage: bench/whole_run.sh [BUILD_DIR]     (default build/release)
# Environment: RUNS (default 5), SCALE (default 1), SEED (default 1), WORK (default: a new
#              folder under $TMPDIR or /tmp, removed at the end; a profile.zip already there is
#              used as it is).
set -euo pipefail
shopt -s inherit_errexit

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/release}" && pwd)
tool="$build/src/OrvexMigrate/OrvexMigrate"
runs=${RUNS:-5}
work=${WORK:-$(mktemp -d "${TMPDIR:-/tmp}/orvex-bench.XXXXXX")}
[ -n "${WORK:-}" ] || trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tmp"
z="$work/profile.zip"
run="$work/run"

[ -f "$z" ] || python3 "$root/bench/gen_profile.py" -q -o "$z" --seed "${SEED:-1}" \
  --scale "${SCALE:-1}"
python3 "$root/bench/mixed_rules.py" "$z" >"$work/rules.xml"
echo '<migration/>' >"$work/none.xml"

names=(
  "OrvexMigrate, no rules"
  "OrvexMigrate, 100 mixed rules"
  "unzip -q + zip -qr"
  "bsdtar -xf + bsdtar -a -cf"
  "unzip -q + copy + zip -qFSr"
  "cat INPUT > /dev/null"
  "cp INPUT OUTPUT"
)
commands=(
  "TMPDIR='$work/tmp' '$tool' /INPUT '$z' /OUTPUT out.zip /XML '$work/none.xml'"
  "TMPDIR='$work/tmp' '$tool' /INPUT '$z' /OUTPUT out.zip /XML '$work/rules.xml'"
  "unzip -q '$z' -d t && cd t && zip -qr ../out.zip ."
  "mkdir t && bsdtar -xf '$z' -C t && cd t && bsdtar -a -cf ../out.zip ."
  "unzip -q '$z' -d t && cp '$z' out.zip && cd t && zip -qFSr ../out.zip ."
  "cat '$z' > /dev/null"
  "cp '$z' out.zip"
)
# A large delete still being written back would slow the next run down.
prepare="rm -rf '$run' && mkdir '$run' && sync"

# Prints "median min" in seconds for each command, one line each.
times_hyperfine() {
  local args=()
  for i in "${!names[@]}"; do args+=(-n "${names[$i]}" "cd '$run' && ${commands[$i]}"); done
  hyperfine --runs "$runs" --prepare "$prepare" --style basic --export-json "$work/times.json" \
    --export-markdown "$work/hyperfine.md" "${args[@]}" >&2
  python3 -c 'import json, sys
for r in json.load(open(sys.argv[1]))["results"]: print("%.2f %.2f" % (r["median"], r["min"]))' \
    "$work/times.json"
}

times_loop() {
  for command in "${commands[@]}"; do
    for _ in $(seq "$runs"); do
      eval "$prepare"
      local start end
      start=$(date +%s%N)
      (cd "$run" && eval "$command") >/dev/null 2>&1 || { echo "failed: $command" >&2; exit 1; }
      end=$(date +%s%N)
      echo "$(((end - start) / 1000000))"
    done | sort -n | awk '{t[NR] = $1 / 1000} END {printf "%.2f %.2f\n", t[int((NR + 1) / 2)], t[1]}'
  done
}

timer=loop
command -v hyperfine >/dev/null && timer=hyperfine
echo "archive: $(du -m "$z" | cut -f1) MB, $(unzip -Z1 "$z" | wc -l) entries; $runs runs" \
  "timed by $timer; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
timings=$("times_$timer")
mapfile -t times <<<"$timings"

echo
read -r zip_median _ <<<"${times[2]}"
read -r sync_median _ <<<"${times[4]}"
read -r cp_median _ <<<"${times[6]}"
echo "| run | median s | min s | of unzip + zip | of zip -FS | of cp | peak RSS MiB | output MB |"
echo "|---|---|---|---|---|---|---|---|"
for i in "${!names[@]}"; do
  eval "$prepare"
  (cd "$run" && /usr/bin/time -f %M -o "$work/peak.txt" bash -c "${commands[$i]}") >/dev/null 2>&1
  read -r median min <<<"${times[$i]}"
  output=0
  [ -f "$run/out.zip" ] && output=$(stat -c %s "$run/out.zip")
  printf '| %s | %s | %s | %.2f | %.2f | %.1f | %d | %.1f |\n' "${names[$i]}" "$median" "$min" \
    "$(awk "BEGIN { print $median / $zip_median }")" "$(awk "BEGIN { print $median / $sync_median }")" \
    "$(awk "BEGIN { print $median / $cp_median }")" \
    "$(($(tail -1 "$work/peak.txt") / 1024))" "${output}e-6"
done
rm -rf "$run"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
if [ "$timer" = hyperfine ]; then
  echo
  cat "$work/hyperfine.md"
fi
