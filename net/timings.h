#pragma once

#include <cstdint>

// The client's times of the network installation, in microseconds. The installer keeps them and
// install-load plays them; install-server's own timeouts are measured against them.

// A broadcast waits this long for its offers, shared by all the waits after it.
constexpr uint64_t kOfferWait = 1000000;
// Every this many broadcasts without an offer the installer scans its interfaces again.
constexpr uint32_t kBroadcastsPerScan = 60;

// YACK and STRT: a second per attempt, five attempts.
constexpr uint64_t kHandshakeWait = 1000000;
constexpr int kHandshakeAttempts = 5;

// Each RETR: 20 milliseconds per attempt, 300 attempts, so a client gives up after 6 s.
constexpr uint64_t kDataRequestWait = 20000;
constexpr int kDataRequestAttempts = 300;
constexpr uint64_t kDataRequestGiveUp = kDataRequestWait * kDataRequestAttempts;

// WTRM is sent again after each second without TERM.
constexpr uint64_t kFarewellWait = 1000000;
