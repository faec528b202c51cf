#!/bin/bash
# Times one package signature check against two libsodium X25519 multiplications (best of 7
# rounds of 300 calls each). QUICK=1: one round of 3 calls, no figures.
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/common.sh
build_programs bench_verify_signature
if quick; then
  "$bin/bench_verify_signature" keys/private_key.hex 1 3 >/dev/null
  quick_passed "a signature made with keys/private_key.hex checks out against the built-in key"
  exit 0
fi
"$bin/bench_verify_signature" keys/private_key.hex
