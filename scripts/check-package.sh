#!/usr/bin/env bash
# Checks a built Debian package as a user would meet it: its runtime dependencies, and its
# OrvexMigrate, unpacked into a scratch root, migrating the example it ships, and its OrvexRollout
# rolling it out over a share of one.
#   check-package.sh <orvexmigrate_*.deb>
set -euo pipefail
deb=$(realpath "$1")
root=$(mktemp -d "${TMPDIR:-/tmp}/orvex-package.XXXXXX")
trap 'rm -rf "$root"' EXIT

dpkg-deb --field "$deb" Package Version Depends
dpkg-deb -x "$deb" "$root"
docs="$root/usr/share/doc/orvexmigrate"
python3 "$docs/examples/make_profile.py" "$root/Profile.zip"
status=0
(cd "$root" && usr/bin/OrvexMigrate /INPUT Profile.zip /OUTPUT Profile-migrated.zip \
  /XML "$docs/examples/migration.xml" /LOGFILE migration.log >/dev/null) || status=$?
if [ "$status" -ne 0 ] || [ ! -s "$root/Profile-migrated.zip" ]; then
  echo "check-package: the installed OrvexMigrate failed on the example (exit $status)" >&2
  tail -n 5 "$root/migration.log" >&2 || true
  exit 1
fi
echo "check-package: $(basename "$deb"): the installed OrvexMigrate migrated the example"
mkdir -p "$root/share/u1" && cp "$root/Profile.zip" "$root/share/u1/"
if ! (cd "$root" && usr/bin/OrvexRollout migrate "$docs/examples/migration.xml" share --to out \
  --quiet >/dev/null) || [ ! -s "$root/out/u1/Profile.zip" ]; then
  echo "check-package: the installed OrvexRollout failed on a share of the example" >&2
  exit 1
fi
echo "check-package: $(basename "$deb"): the installed OrvexRollout rolled the example out"
