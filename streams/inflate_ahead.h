#pragma once

#include <pthread.h>

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <streambuf>

#include "streams/inflate_options.h"

// Decompression on a helper thread, so that a large archive is inflated while the caller writes
// out what came before. The caller's thread still does every read from the source (which may wait
// on a socket and carry out an interrupt there, as a reading thread must); the helper only turns
// compressed bytes into decompressed ones, with every signal blocked, and never reports anything.
// Bytes, ends and corruption come out exactly as an InflateBuf over the same source gives them.
class InflateAhead {
 public:
  InflateAhead(std::streambuf* source, Framing framing);
  ~InflateAhead();
  InflateAhead(const InflateAhead&) = delete;
  InflateAhead& operator=(const InflateAhead&) = delete;

  // Starts the helper; false when no thread could be made (the caller then inflates itself).
  bool Start();
  // Copies up to size decompressed bytes into out, reading the source meanwhile; 0 at the end of
  // the data, on corrupt data or when the source ran dry, as InflateBuf's reads.
  int Take(char* out, int size);
  // Known once Take has returned 0: see InflateBuf::ReachedStreamEnd.
  bool ReachedStreamEnd() const { return streamEnded; }

 private:
  // Rings of bytes with one writer and one reader each; counts are guarded by the mutex.
  static constexpr std::size_t kInputRing = 256 << 10;
  static constexpr std::size_t kOutputRing = 1 << 20;
  // The most that one read from the source or one decompression step moves at a time: small
  // enough that the other side starts early, large enough to pay for the hand-over.
  static constexpr std::size_t kStep = 64 << 10;

  class RingSource;

  static void* Run(void* self);
  void Inflate();
  // Reads the source into the input ring while it has room for a whole step; unlocks meanwhile.
  void FillInput(std::unique_lock<std::mutex>& lock);
  // For the helper: compressed bytes into out, waiting for them; 0 when there are no more.
  std::size_t TakeInput(char* out, std::size_t size);

  std::streambuf* source;
  Framing framing;
  std::unique_ptr<char[]> input;
  std::unique_ptr<char[]> output;
  // Each side sleeps on its own condition and is woken only once it can go on: a wake-up for
  // every small read would cost more than the thread saves.
  enum class HelperWait { kNone, kRoom, kInput };
  bool RoomForHelper() const;
  bool InputForHelper() const;
  bool ReaderMayGoOn() const;
  void WakeHelper();
  void WakeReader();

  std::mutex mutex;
  std::condition_variable helperWake;
  std::condition_variable readerWake;
  HelperWait helperWaits = HelperWait::kNone;
  bool readerWaits = false;
  std::size_t inputStart = 0, inputCount = 0;
  std::size_t outputStart = 0, outputCount = 0;
  bool sourceDry = false;    // the source has no more bytes
  bool inputWanted = false;  // the helper waits for compressed bytes
  bool finished = false;     // the helper has put out all it will
  bool helperEnded = false;  // what the helper's inflater said of the end
  bool stopping = false;     // the caller is done: the helper leaves at once
  bool streamEnded = false;
  bool running = false;
  pthread_t thread{};
};
