#include "streams/inflate_ahead.h"

#include <signal.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "streams/inflate_stream.h"

// The helper's source: the input ring, read only through sgetn, as InflateBuf reads its source.
class InflateAhead::RingSource : public std::streambuf {
 public:
  explicit RingSource(InflateAhead& owner) : owner(owner) {}

 protected:
  std::streamsize xsgetn(char* out, std::streamsize size) override {
    return static_cast<std::streamsize>(owner.TakeInput(out, static_cast<std::size_t>(size)));
  }

 private:
  InflateAhead& owner;
};

InflateAhead::InflateAhead(std::streambuf* source, Framing framing)
    : source(source),
      framing(framing),
      input(new (std::nothrow) char[kInputRing]),
      output(new (std::nothrow) char[kOutputRing]) {}

InflateAhead::~InflateAhead() {
  if (!running) {
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
  }
  helperWake.notify_one();
  pthread_join(thread, nullptr);
}

bool InflateAhead::Start() {
  if (!input || !output) {
    return false;
  }
  // The helper inherits a mask that blocks every signal, so that an interrupt always lands on
  // the caller's thread, where the waits that carry it out are.
  sigset_t all, previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  running = pthread_create(&thread, nullptr, &InflateAhead::Run, this) == 0;
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return running;
}

void* InflateAhead::Run(void* self) {
  static_cast<InflateAhead*>(self)->Inflate();
  return nullptr;
}

// A whole step of room, not a byte of it: the helper then works in long stretches.
bool InflateAhead::RoomForHelper() const {
  return stopping || kOutputRing - outputCount >= kStep;
}

bool InflateAhead::InputForHelper() const {
  return stopping || inputCount > 0 || sourceDry;
}

bool InflateAhead::ReaderMayGoOn() const {
  return outputCount > 0 || finished || (inputWanted && inputCount == 0 && !sourceDry);
}

void InflateAhead::WakeHelper() {
  if ((helperWaits == HelperWait::kRoom && RoomForHelper()) ||
      (helperWaits == HelperWait::kInput && InputForHelper())) {
    helperWake.notify_one();
  }
}

void InflateAhead::WakeReader() {
  if (readerWaits && ReaderMayGoOn()) {
    readerWake.notify_one();
  }
}

void InflateAhead::Inflate() {
  RingSource ring(*this);
  InflateBuf inflater(&ring, framing);
  std::unique_lock<std::mutex> lock(mutex);
  while (!finished) {
    helperWaits = HelperWait::kRoom;
    helperWake.wait(lock, [this] { return RoomForHelper(); });
    helperWaits = HelperWait::kNone;
    if (stopping) {
      return;
    }
    std::size_t end = (outputStart + outputCount) % kOutputRing;
    std::size_t room = std::min({kOutputRing - outputCount, kOutputRing - end, kStep});
    lock.unlock();
    // The reader takes only from the filled part of the ring, so this part is the helper's alone.
    std::streamsize got = inflater.sgetn(output.get() + end, static_cast<std::streamsize>(room));
    lock.lock();
    outputCount += static_cast<std::size_t>(got);
    if (static_cast<std::size_t>(got) < room) {
      finished = true;
      helperEnded = inflater.ReachedStreamEnd();
    }
    WakeReader();
  }
}

std::size_t InflateAhead::TakeInput(char* out, std::size_t size) {
  std::unique_lock<std::mutex> lock(mutex);
  if (!InputForHelper()) {
    inputWanted = true;
    WakeReader();
    helperWaits = HelperWait::kInput;
    helperWake.wait(lock, [this] { return InputForHelper(); });
    helperWaits = HelperWait::kNone;
    inputWanted = false;
  }
  if (stopping) {
    return 0;
  }
  std::size_t count = std::min({size, inputCount, kInputRing - inputStart});
  lock.unlock();
  std::memcpy(out, input.get() + inputStart, count);
  lock.lock();
  inputStart = (inputStart + count) % kInputRing;
  inputCount -= count;
  return count;
}

void InflateAhead::FillInput(std::unique_lock<std::mutex>& lock) {
  while (!sourceDry && !finished && kInputRing - inputCount >= kStep) {
    std::size_t end = (inputStart + inputCount) % kInputRing;
    std::size_t room = std::min(kInputRing - end, kStep);
    lock.unlock();
    std::streamsize got = source->sgetn(input.get() + end, static_cast<std::streamsize>(room));
    lock.lock();
    if (got <= 0) {
      sourceDry = true;
    } else {
      inputCount += static_cast<std::size_t>(got);
    }
    WakeHelper();
  }
}

int InflateAhead::Take(char* out, int size) {
  std::unique_lock<std::mutex> lock(mutex);
  for (;;) {
    FillInput(lock);
    if (outputCount > 0) {
      std::size_t count =
          std::min({static_cast<std::size_t>(size), outputCount, kOutputRing - outputStart});
      lock.unlock();
      std::memcpy(out, output.get() + outputStart, count);
      lock.lock();
      outputStart = (outputStart + count) % kOutputRing;
      outputCount -= count;
      // Said as soon as the last byte is handed out, as the inflater says it with its last call.
      streamEnded = finished && outputCount == 0 && helperEnded;
      WakeHelper();
      return static_cast<int>(count);
    }
    if (finished) {
      streamEnded = helperEnded;
      return 0;
    }
    readerWaits = true;
    readerWake.wait(lock, [this] { return ReaderMayGoOn(); });
    readerWaits = false;
  }
}
