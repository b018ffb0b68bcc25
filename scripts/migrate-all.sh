#!/usr/bin/env bash
# Migrates every profile archive (*.zip) below an input folder into an output folder, with the
# same relative paths and one log beside each output archive (<name>.log), several at a time with
# GNU parallel.
#
#   migrate-all.sh [-j JOBS] [--resume] [--sshlogin LOGIN]... INPUT_DIR OUTPUT_DIR RULES.xml
#
#   -j JOBS            archives migrated at once (default: one per core)
#   --resume           skip what finished in the last run, retry what failed (the job log is
#                      OUTPUT_DIR/migrate-all.joblog)
#   --sshlogin LOGIN   also run jobs on another machine (ssh LOGIN) that sees the same folders at
#                      the same paths and has the tool at the same path; ":" is this machine
#
# The tool is $ORVEX_MIGRATE, else OrvexMigrate on the PATH, else the repository's release build.
# Existing output archives are replaced. The exit status is the number of archives that failed
# (101 for more than 100), and a summary names them.
set -euo pipefail

jobs=
resume=()
logins=()
while [ $# -gt 0 ]; do
  case $1 in
    -j) jobs=$2; shift 2 ;;
    --resume) resume=(--resume-failed); shift ;;
    --sshlogin) logins+=(--sshlogin "$2"); shift 2 ;;
    -*) echo "migrate-all: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
if [ $# -ne 3 ]; then
  sed -n '6,12p' "$0" >&2
  exit 2
fi

root=$(cd "$(dirname "$0")/.." && pwd)
tool=${ORVEX_MIGRATE:-$(command -v OrvexMigrate || echo "$root/build/release/src/OrvexMigrate/OrvexMigrate")}
export ORVEX_TOOL=$(realpath "$tool") ORVEX_IN=$(realpath "$1") ORVEX_RULES=$(realpath "$3")
mkdir -p "$2"
export ORVEX_OUT=$(realpath "$2")
joblog=$ORVEX_OUT/migrate-all.joblog

# The archives in a fixed order: a job's number in the job log is its line in the list, also when
# a run is resumed.
list=$ORVEX_OUT/migrate-all.list
(cd "$ORVEX_IN" && find . -type f -name '*.zip' -printf '%P\n' | LC_ALL=C sort) >"$list"

# Each job: the archive's relative path is {}; its log is the output's name with .log.
status=0
parallel --will-cite --joblog "$joblog" "${resume[@]}" -j "${jobs:-100%}" "${logins[@]}" \
  --env ORVEX_TOOL --env ORVEX_IN --env ORVEX_OUT --env ORVEX_RULES \
  'mkdir -p "$ORVEX_OUT"/{//} && "$ORVEX_TOOL" /INPUT "$ORVEX_IN"/{} /OUTPUT "$ORVEX_OUT"/{} \
     /XML "$ORVEX_RULES" /LOGFILE "$ORVEX_OUT"/{.}.log /OVERWRITE >/dev/null' :::: "$list" ||
  status=$?

# The last line of each job in the job log says how it ended (a resumed run appends to it).
awk -F'\t' -v out="$ORVEX_OUT" '
  FNR == NR { name[FNR] = $0; total = FNR; next }
  FNR > 1 { result[$1] = $7 }
  END {
    for (seq = 1; seq <= total; ++seq) {
      if ((seq in result) && result[seq] != 0) {
        ++failed
        printf "failed (exit %s): %s (log: %s/%s.log)\n", result[seq], name[seq], out,
               substr(name[seq], 1, length(name[seq]) - 4)
      }
    }
    printf "%d of %d archives failed\n", failed, total
  }' "$list" "$joblog"
exit "$status"
