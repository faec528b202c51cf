#pragma once

#include <cstdint>

#include "streams/signature_check.h"

// True when digest equals one of the count entries of table, compared in table order; the search
// ends at the first equal entry. A count of 0 admits nothing.
bool IsDigestInTable(const std::uint8_t digest[kDigestSize],
                     const std::uint8_t (*table)[kDigestSize], int count);
