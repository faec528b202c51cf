#!/usr/bin/env bash
# Builds and runs the whole test suite twice: the ordinary build and the sanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

werror=OFF
if [ "${CI:-}" = true ]; then
  werror=ON
fi

status=0
for preset in default sanitize; do
  echo "== $preset build"
  cmake --preset "$preset" -DVELA_WERROR="$werror" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" -j "$(nproc)" || status=1
done
exit "$status"
