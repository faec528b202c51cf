// Time to check one package signature against two X25519 scalar multiplications of libsodium,
// the least a check of v*P + h*G with a ladder per point can cost. Prints the ratio ours/theirs.
//
// usage: bench_verify_signature [PRIVATE_KEY_FILE [ROUNDS CALLS]]   (default
// keys/private_key.hex, which must be the key the programs were built with; the best of 7 rounds
// of 300 calls)
#include <sodium.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "streams/signature_check.h"
#include "tools/vpk/signer.h"

namespace {

// The best of `rounds` rounds of `calls` calls each, in microseconds per call.
template <typename Work>
double BestMicroseconds(int rounds, int calls, Work work) {
  double best = 1e30;
  for (int round = 0; round < rounds; ++round) {
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < calls; ++i) {
      work();
    }
    std::chrono::duration<double, std::micro> elapsed = std::chrono::steady_clock::now() - start;
    best = std::min(best, elapsed.count() / calls);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const char* keyPath = argc > 1 ? argv[1] : "keys/private_key.hex";
  int rounds = argc > 3 ? std::atoi(argv[2]) : 7;
  int calls = argc > 3 ? std::atoi(argv[3]) : 300;
  if (argc == 3 || argc > 4 || rounds < 1 || calls < 1) {
    std::fprintf(stderr, "usage: bench_verify_signature [PRIVATE_KEY_FILE [ROUNDS CALLS]]\n");
    return 2;
  }
  std::uint8_t key[kPrivateKeySize], digest[kDigestSize], signature[kSignatureSize];
  if (sodium_init() < 0 || !ReadPrivateKey(keyPath, key) ||
      !ReadRandomBytes(digest, sizeof digest) || !SignDigest(key, digest, signature)) {
    std::fprintf(stderr, "bench_verify_signature: setup failed\n");
    return 1;
  }
  if (!SignatureEquationHolds(digest, signature)) {
    std::fprintf(stderr, "bench_verify_signature: %s is not the built-in key\n", keyPath);
    return 1;
  }
  std::uint8_t scalars[2][32], points[2][32] = {{9}}, out[32];
  if (!ReadRandomBytes(&scalars[0][0], sizeof scalars)) {
    return 1;
  }
  crypto_scalarmult_base(points[1], scalars[1]);  // a second point besides the base point
  volatile int sink = 0;
  double ours = BestMicroseconds(rounds, calls,
                                 [&] { sink = sink + SignatureEquationHolds(digest, signature); });
  double theirs = BestMicroseconds(rounds, calls, [&] {
    sink = sink + crypto_scalarmult(out, scalars[0], points[1]);
    sink = sink + crypto_scalarmult(out, scalars[1], points[0]);
  });
  std::printf("signature check:                    %8.1f us\n", ours);
  std::printf("2 x libsodium crypto_scalarmult:    %8.1f us\n", theirs);
  std::printf("ratio ours/theirs:                  %8.2f (goal: at most 1.2)\n", ours / theirs);
  return 0;
}
