#include "net/session.h"

#include <cstring>

bool AcceptDatagram(NetSession& session, uint8_t* datagram, int length) {
  if (length < kDatagramHeaderSize) {
    memset(datagram, 0, kDatagramHeaderSize);
  }
  return JudgeDatagram(session, datagram, length) == Verdict::kAccepted;
}

NetInterface* SelectedInterface(NetSession& session) {
  int32_t index = session.selectedInterface;
  if (index < 0 || size_t(index) >= session.interfaces.size()) {
    return nullptr;
  }
  return &session.interfaces[index];
}
