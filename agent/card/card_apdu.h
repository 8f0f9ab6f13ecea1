// The commands of the issuing card, byte for byte as they are sent over every
// link. A command is either a header only (the card answers data: sent through
// the reader's case-2 channel on a contact card) or carries data (case 3).
#pragma once

#include <cstddef>
#include <cstdint>

namespace card {

enum class ApduKind { kHeaderOnly, kWithData };

struct ApduHeader {
    uint8_t bytes[5];
    ApduKind kind;
};

// SELECT the issuing application by name: 00 A4 04 00 07 + the identifier.
constexpr uint8_t kSelectApplication[12] = {0x00, 0xA4, 0x04, 0x00, 0x07, 0xA0, 0x00,
                                            0x00, 0x02, 0x45, 0x00, 0x01};
// SELECT answers "61 1A" (26 bytes of file information waiting) on a good card.
constexpr uint8_t kSelectAnswer[2] = {0x61, 0x1A};

constexpr ApduHeader kReadCardFile{{0x00, 0xB0, 0x88, 0x00, 0x3C}, ApduKind::kHeaderOnly};  // READ BINARY SFI 8, Le 60
constexpr ApduHeader kReadIssueBlock{{0x90, 0x16, 0x00, 0x00, 0x3F}, ApduKind::kHeaderOnly};
constexpr ApduHeader kWriteBlock{{0x90, 0x18, 0x00, 0x00, 0x3F}, ApduKind::kWithData};  // + 63 bytes
constexpr ApduHeader kIssue{{0x90, 0x1E, 0x01, 0x00, 0x2E}, ApduKind::kWithData};        // + F8 + 45 bytes
constexpr ApduHeader kRenew{{0x90, 0x1E, 0x03, 0x00, 0x2E}, ApduKind::kWithData};        // + 78 + 45 bytes
constexpr ApduHeader kReturnCard{{0x90, 0x1E, 0x02, 0x00, 0x00}, ApduKind::kHeaderOnly};
constexpr ApduHeader kReIssue{{0x90, 0x1E, 0x04, 0x00, 0x00}, ApduKind::kHeaderOnly};
constexpr ApduHeader kQueryObuTerminal{{0x90, 0x1E, 0x06, 0x00, 0x00}, ApduKind::kHeaderOnly};
constexpr ApduHeader kAddOBUNumber{{0x90, 0x22, 0x00, 0x00, 0x08}, ApduKind::kWithData};  // + 8 bytes
constexpr ApduHeader kReadOBUNumberCount{{0x00, 0xCA, 0x01, 0x32, 0x02}, ApduKind::kHeaderOnly};  // GET DATA 01 32
constexpr ApduHeader kReadBlock{{0x90, 0x1C, 0x00, 0x00, 0x3F}, ApduKind::kHeaderOnly};
constexpr ApduHeader kReadLongBlock{{0x90, 0x1C, 0x00, 0x00, 0x7E}, ApduKind::kHeaderOnly};

// First data byte of the issue and renewal commands.
constexpr uint8_t kIssueMark = 0xF8;
constexpr uint8_t kRenewMark = 0x78;
// First data byte of the blank block.
constexpr uint8_t kBlankBlockMark = 0xF8;

}  // namespace card
