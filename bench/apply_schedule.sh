#!/usr/bin/env bash
# Times ApplySchedule on installed databases of 500, 1,000 and 2,000 packages after 100 scheduled
# actions (best of RUNS rounds, 5 by default). QUICK=1: one round of 200 and 400 packages, no
# figures.
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/common.sh
build_programs bench_apply_schedule
if quick; then
  "$bin/bench_apply_schedule" 1 200 400 >/dev/null
  quick_passed "100 scheduled actions were carried out on databases of 200 and 400 packages"
  exit 0
fi
"$bin/bench_apply_schedule" "${RUNS:-5}"
