#!/usr/bin/env bash
# Times file rules that create many files: COUNT `create` rules into one folder against as many
# spread over FOLDERS folders (one after another in turn), each a whole migration of a one-file
# archive. A create costs the same however many names stand beside it, so the first may take at
# most twice as long as the second. Timed by hyperfine (scripts/install-deps.sh bench).
#
# Usage: bench/many_creates.sh [BUILD_DIR]     (default build/release)
# Environment: COUNT (default 100000), FOLDERS (default 1000), RUNS (default 3), WORK (default:
#              a new folder under /dev/shm, removed at the end).
set -euo pipefail
shopt -s inherit_errexit

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/release}" && pwd)
tool="$build/src/OrvexMigrate/OrvexMigrate"
count=${COUNT:-100000}
folders=${FOLDERS:-1000}
work=${WORK:-$(mktemp -d /dev/shm/orvex-creates.XXXXXX)}
[ -n "${WORK:-}" ] || trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tmp"

python3 - "$work" "$count" "$folders" <<'PY'
import sys, zipfile
work, count, folders = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
with zipfile.ZipFile(work + "/in.zip", "w") as archive:
    archive.writestr("AppData/a.txt", "a")
for name, folder in (("one", lambda i: "One"), ("spread", lambda i: "D%05d" % (i % folders))):
    with open("%s/%s.xml" % (work, name), "w") as xml:
        xml.write("<migration><files>\n")
        for i in range(count):
            xml.write('<file action="create" source="AppData\\%s\\f%07d.txt">eA==</file>\n'
                      % (folder(i), i))
        xml.write("</files></migration>\n")
PY

run() {
  echo "TMPDIR='$work/tmp' '$tool' /INPUT '$work/in.zip' /OUTPUT '$work/out.zip' /XML '$work/$1.xml'"
}
echo "$count creates; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
hyperfine --runs "${RUNS:-3}" --prepare "rm -f '$work/out.zip'" --style basic \
  --export-json "$work/times.json" \
  -n "one folder" "$(run one)" -n "$folders folders" "$(run spread)"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
python3 - "$work/times.json" <<'PY'
import json, sys
one, spread = json.load(open(sys.argv[1]))["results"]
print("median s: %s %.2f, %s %.2f; ratio %.2f (at most 2)"
      % (one["command"], one["median"], spread["command"], spread["median"],
         one["median"] / spread["median"]))
PY
# Each run made every file. (Python reads the archive: Info-ZIP's unzip stops at 65535 entries.)
python3 - "$work/out.zip" "$count" <<'PY'
import sys, zipfile
names = zipfile.ZipFile(sys.argv[1]).namelist()
sys.exit(sum(name.startswith("AppData/D") and name.endswith(".txt") for name in names) !=
         int(sys.argv[2]))
PY
