// Result numbers of the reader link library. Every exchange result of 1024 or
// less is success (a length or a status, as each protocol says); above 1024 it
// is one of these errors.
#pragma once

namespace tarnlink {

constexpr int kMaxSuccess = 1024;

// The reader protocol's exchanges answer kReplyTaken for a good reply and
// leave its data count in the record's m_nRespLen: a reply may bring up to
// 2044 data bytes, more than a success result can count.
constexpr int kReplyTaken = 0;

constexpr int kErrModemId1 = 1025;       // first identifier of a modem reply differs
constexpr int kErrModemId2 = 1026;       // second identifier of a modem reply differs
constexpr int kErrNoStx = 1027;          // first byte of a reply is not STX
constexpr int kErrCheck = 1028;          // block check or CRC of a reply is wrong
constexpr int kErrModemNoEtx = 1029;     // ETX missing in a modem reply
constexpr int kErrTimeout = 1030;        // no complete reply within the time limit
constexpr int kErrUsbWrite = 1031;       // USB write failed
constexpr int kErrUsbRead = 1032;        // USB read failed
constexpr int kErrReplyTooLong = 1033;   // reply longer than the reply buffer holds
constexpr int kErrNoStatus = 1034;       // reply without a status byte (LEN 0, short USB read)
constexpr int kErrRequestTooLong = 1035; // caller's data longer than the request buffer holds
constexpr int kErrBadLength = 1036;      // length characters of a modem reply weigh less than zero
constexpr int kErrNotSupported = 1037;   // the port's protocol does not offer the operation

constexpr int kErrNoRecord = 1250;       // no record for the port number
constexpr int kErrNodeDiffers = 1255;    // node byte of a reply differs from the node asked
constexpr int kErrListenNoEtx = 1256;    // ETX missing in a listener reply

// Text modem: station statuses and the time-out.
constexpr int kTextStatusBase = 5000;
constexpr int kErrTextTimeout = 5012;    // no reply within 300 ms
constexpr int kErrTextUnknownStatus = 5013;  // a station status the table does not name

constexpr bool IsError(int result) { return result > kMaxSuccess; }

}  // namespace tarnlink
