#pragma once

#include <cstddef>
#include <cstdint>

#include "streams/signature_hash.h"
#include "tools/vpk/signer.h"

// Generation of the key material that the programs are built with: a private scalar, the
// package key and the signature-hash words, all derived from a seed so that one seed always
// gives the same files.

struct KeyMaterial {
  std::uint8_t privateKey[kPrivateKeySize];  // k, with k*G of even y
  std::uint8_t packageKey[kPrivateKeySize];  // u(k*G)
  std::uint32_t hashWords[kHashWordCount];   // 64 round constants, then 8 initial values
};

// Names of the files of a key directory.
extern const char* const privateKeyFileName;
extern const char* const packageKeyFileName;
extern const char* const hashWordsFileName;
extern const char* const knownDigestsFileName;

// `vpk keygen DIR [--seed TEXT]`: argv[0] is "keygen". Without --seed the seed is 32 bytes from
// /dev/urandom. Prints usage or an error and returns false on failure.
bool KeygenCommand(int argc, char** argv);
