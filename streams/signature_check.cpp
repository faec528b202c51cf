// Placeholder until the curve check lands; replaced at merge.
#include "streams/signature_check.h"

bool SignatureEquationHolds(const std::uint8_t*, const std::uint8_t*) {
  return false;
}
