#!/usr/bin/env bash
# Builds the programs and shows what each of them offers.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default

for program in installer vpk install-server; do
  binary="build/default/bin/$program"
  if [ -x "$binary" ]; then
    echo "== $program --help"
    "$binary" --help || true
  fi
done
