#!/usr/bin/env bash
# The whole test suite: the unit and sandbox tests in the ordinary build and the sanitizer build,
# the fuzz targets (their committed inputs replayed, then 60 s of fuzzing each), and the
# end-to-end installations under QEMU (e2e/run.sh).
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
echo "== fuzz targets"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
ctest --preset fuzz || status=1
bash scripts/fuzz.sh 60 || status=1
echo "== end-to-end installations"
bash e2e/run.sh || status=1
exit "$status"
