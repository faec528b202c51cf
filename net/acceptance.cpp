#include "net/acceptance.h"

#include <cstring>

#include "net/messages.h"

namespace {

bool SameAddress(const uint8_t* left, const uint8_t* right) {
  return memcmp(left, right, kHardwareAddressSize) == 0;
}

// Rules 2 to 6 on a datagram that holds a whole header.
bool PassesAddressRules(const ClientConversation& conversation, const DatagramHeader& header,
                        int length) {
  bool serverKnown = !IsZeroAddress(conversation.peerAddress);
  if (header.payloadLength != length - kDatagramHeaderSize) {
    return false;
  }
  if (SameAddress(header.source, conversation.ownAddress)) {
    return false;
  }
  if (IsZeroAddress(header.destination)
          ? serverKnown
          : !SameAddress(header.destination, conversation.ownAddress)) {
    return false;
  }
  if (serverKnown && !SameAddress(header.source, conversation.peerAddress)) {
    return false;
  }
  return header.acknowledgement <= conversation.sendCounter;
}

}  // namespace

Verdict JudgeDatagram(ClientConversation& conversation, const uint8_t* datagram, int length) {
  if (length < kDatagramHeaderSize) {
    return Verdict::kRefused;
  }
  DatagramHeader header = LoadDatagramHeader(datagram);
  if (!PassesAddressRules(conversation, header, length)) {
    return Verdict::kRefused;
  }
  // Compared at the counter's full width, so a 16-bit number on the wire never matches once
  // receiveCounter reached 65535: the conversation ends there.
  if (header.sequence != uint64_t(conversation.receiveCounter) + 1) {
    return header.sequence == conversation.receiveCounter ? Verdict::kRepeated : Verdict::kRefused;
  }
  conversation.receiveCounter = header.sequence;
  return Verdict::kAccepted;
}

void StampRequest(ClientConversation& conversation, uint8_t* datagram, uint16_t payloadLength) {
  DatagramHeader header;
  header.payloadLength = payloadLength;
  header.sequence = uint16_t(++conversation.sendCounter);
  header.acknowledgement = uint16_t(conversation.receiveCounter);
  memcpy(header.source, conversation.ownAddress, kHardwareAddressSize);
  memcpy(header.destination, conversation.peerAddress, kHardwareAddressSize);
  StoreDatagramHeader(datagram, header);
}

void RestartConversation(ClientConversation& conversation) {
  conversation.sendCounter = 0;
  conversation.receiveCounter = 0;
  memset(conversation.peerAddress, 0, kHardwareAddressSize);
}

bool TakeOffer(ClientConversation& conversation, const uint8_t* datagram, int length,
               std::string_view word) {
  RestartConversation(conversation);
  if (JudgeDatagram(conversation, datagram, length) != Verdict::kAccepted) {
    return false;
  }
  DatagramHeader header = LoadDatagramHeader(datagram);
  if (IsZeroAddress(header.destination) || header.payloadLength == 0 ||
      !PayloadBegins(datagram, word)) {
    return false;
  }
  memcpy(conversation.peerAddress, header.source, kHardwareAddressSize);
  return true;
}
