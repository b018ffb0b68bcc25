#!/usr/bin/env bash
# Migrates the example profile archive with the example rules and shows what changed.
set -euo pipefail
build=${1:-build/release}
root=$(cd "$(dirname "$0")/.." && pwd)
tool="$root/$build/src/OrvexMigrate/OrvexMigrate"
out="$root/build/demo"
rm -rf "$out"
mkdir -p "$out"

python3 "$root/examples/make_profile.py" "$out/Profile.zip"
echo "== Input profile archive: $out/Profile.zip"
unzip -l "$out/Profile.zip" | sed 's/^/   /'

echo "== Running OrvexMigrate"
status=0
(cd "$out" && "$tool" /INPUT Profile.zip /OUTPUT Profile-migrated.zip \
  /XML "$root/examples/migration.xml" /LOGFILE migration.log /VERBOSE) || status=$?
echo "== Exit code: $status"
echo "== Log: $out/migration.log"
sed 's/^/   /' "$out/migration.log"
[ "$status" -eq 0 ] || exit "$status"

echo "== Output profile archive: $out/Profile-migrated.zip"
unzip -l "$out/Profile-migrated.zip" | sed 's/^/   /'
mkdir -p "$out/migrated"
(cd "$out/migrated" && unzip -q ../Profile-migrated.zip)
echo "== Registry/User.reg after the migration"
iconv -f UTF-16LE -t UTF-8 "$out/migrated/Registry/User.reg" | sed 's/^/   /'
