#!/usr/bin/env bash
# Migrates every profile archive (*.zip) below an input folder into an output folder with the same
# relative paths: OrvexRollout does the work (its journal, logs/ and report land in the output
# folder). With --sshlogin the share is split into one shard per machine, each run by GNU parallel
# over ssh, and the shards' journals are reported as one.
#
#   migrate-all.sh [-j JOBS] [--resume] [--sshlogin LOGIN]... INPUT_DIR OUTPUT_DIR RULES.xml
#
#   -j JOBS            archives migrated at once on each machine (default: one per core)
#   --resume           go on after an interrupted run: what finished stays, what failed is retried
#   --sshlogin LOGIN   a machine (ssh LOGIN) that sees the same folders at the same paths and has
#                      the tools at the same path; ":" is this machine. Give one per shard.
#
# The tool is $ORVEX_ROLLOUT, else OrvexRollout on the PATH, else the repository's release build.
# The exit status is the number of archives not migrated (at most 125); the report names them.
set -euo pipefail

options=()
logins=()
while [ $# -gt 0 ]; do
  case $1 in
    -j) options+=(-j "$2"); shift 2 ;;
    --resume) options+=(--resume); shift ;;
    --sshlogin) logins+=("$2"); shift 2 ;;
    -*) echo "migrate-all: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
if [ $# -ne 3 ]; then
  sed -n '7,13p' "$0" >&2
  exit 2
fi

root=$(cd "$(dirname "$0")/.." && pwd)
tool=$(realpath "${ORVEX_ROLLOUT:-$(command -v OrvexRollout || echo "$root/build/release/src/OrvexMigrate/OrvexRollout")}")
in=$(realpath "$1")
mkdir -p "$2"
out=$(realpath "$2")
rules=$(realpath "$3")

if [ ${#logins[@]} -eq 0 ]; then
  exec "$tool" migrate "$rules" "$in" --to "$out" "${options[@]}"
fi

# One shard per machine, each machine one job: shard K of N takes the archives whose relative
# path's hash falls to K, so the machines split the share exactly once between them.
shards=${#logins[@]}
sshlogins=()
for login in "${logins[@]}"; do sshlogins+=(--sshlogin "1/$login"); done
parallel --will-cite "${sshlogins[@]}" \
  "$(printf '%q ' "$tool" migrate "$rules" "$in" --to "$out" "${options[@]}" --quiet) --shard {}/$shards >/dev/null" \
  ::: $(seq "$shards") || true
exec "$tool" report "$out"/rollout.*-of-"$shards".journal
