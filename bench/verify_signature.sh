#!/bin/bash
# Times one package signature check against two libsodium X25519 multiplications.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build --preset default --target bench_verify_signature >/dev/null
build/default/bin/bench_verify_signature keys/private_key.hex
