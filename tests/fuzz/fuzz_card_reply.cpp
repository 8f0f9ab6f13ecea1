// Replies of the issuing card, as the reader link library or the PC/SC
// service hand them to the agent, through the status decoding and every card
// command's answer text.
//
// Input: the link (0 the reader library, else PC/SC), then commands, each a
// command byte (one of the card commands, in table order), the page's text
// (up to a NUL byte) for the commands that take one, and then, for every call
// the command makes on the link, a reply: kind(1) length(2) bytes. Kind 0 is
// success with the bytes (the library: result 0 and the payload; PC/SC: the
// reply), any other kind the reader's status byte (PC/SC: no answer).
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "agent/card/card_status.h"
#include "agent/card/pcsc_link.h"
#include "agent/card/reader_library.h"
#include "agent/commands/obu_issue_ctrl.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

struct Reply {
    uint8_t kind;
    std::vector<uint8_t> bytes;
};

Reply NextReply(FuzzInput& input, size_t capacity)
{
    Reply reply;
    reply.kind = input.Byte();
    const size_t length = input.Word() % (capacity + 1);
    reply.bytes = input.Bytes(length < input.Left() ? length : input.Left());
    return reply;
}

// The library's exports as the agent sees them: port 100 opens, no other; the
// calls on it answer from the input.
class FuzzReaderLibrary : public card::IReaderLibrary {
public:
    explicit FuzzReaderLibrary(FuzzInput& input) : m_input(input) {}

    int32_t InitPort(int32_t port, int32_t) override { return port == 100 ? port : 1; }
    int32_t ClosePort(int32_t) override { return 1; }
    int32_t IcPowerOn(int32_t, int32_t* outLength, uint8_t* atr) override { return Answer(outLength, atr); }
    int32_t IcCase1(int32_t, int32_t length, const uint8_t* data, int32_t* outLength, uint8_t* out) override
    {
        return Exchange(length, data, outLength, out);
    }
    int32_t IcCase2(int32_t, int32_t length, const uint8_t* data, int32_t* outLength, uint8_t* out) override
    {
        return Exchange(length, data, outLength, out);
    }
    int32_t IcCase3(int32_t, int32_t length, const uint8_t* data, int32_t* outLength, uint8_t* out) override
    {
        return Exchange(length, data, outLength, out);
    }
    int32_t AbmTransparent(int32_t, int32_t, int32_t length, const uint8_t* data, int32_t* outLength,
                           uint8_t* out) override
    {
        return Exchange(length, data, outLength, out);
    }

private:
    int32_t Exchange(int32_t length, const uint8_t* data, int32_t* outLength, uint8_t* out)
    {
        Require(length >= 0 && length <= 299 && (length == 0 || data != nullptr));
        return Answer(outLength, out);
    }
    // As the library: on success the payload and its length, else the status
    // byte and nothing written.
    int32_t Answer(int32_t* outLength, uint8_t* out)
    {
        const Reply reply = NextReply(m_input, card::kReaderReplyCapacity);
        if (reply.kind != 0) return reply.kind;
        std::copy(reply.bytes.begin(), reply.bytes.end(), out);
        *outLength = static_cast<int32_t>(reply.bytes.size());
        return 0;
    }

    FuzzInput& m_input;
};

class FuzzPcscLink : public card::IPcscLink {
public:
    explicit FuzzPcscLink(FuzzInput& input) : m_input(input) {}

    bool Connect() override { return true; }
    bool Transmit(const uint8_t*, size_t requestLength, uint8_t* reply, size_t capacity,
                  size_t& replyLength) override
    {
        Require(requestLength <= 261);
        const Reply r = NextReply(m_input, capacity);
        if (r.kind != 0) return false;
        std::copy(r.bytes.begin(), r.bytes.end(), reply);
        replyLength = r.bytes.size();
        return true;
    }
    void Close() override {}

private:
    FuzzInput& m_input;
};

class CountingPrinter : public IPrintContext {
public:
    bool StartDoc(const char* name) override
    {
        Require(std::strcmp(name, kReceiptDocumentName) == 0);
        return true;
    }
    bool StartPage() override { return true; }
    bool TextOut(int, int y, const char* bytes, int count) override
    {
        Require(y >= 0 && count >= 0 && (count == 0 || bytes != nullptr));
        return true;
    }
    bool EndPage() override { return true; }
    bool EndDoc() override { return true; }
    int LineHeight() override { return 40; }
};

class PickedPrinter : public IPrintDialog {
public:
    std::unique_ptr<IPrintContext> Show() override { return std::make_unique<CountingPrinter>(); }
};

const int kCardCommandIds[] = {11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21,
                               22, 23, 24, 25, 26, 27, 28, 29, 50, 51, 52};

bool TakesText(int id)
{
    return id == 28 || id == 29 || id == 50 || id == 51 || id == 52;
}

bool OnlyOf(const std::string& text, const char* allowed)
{
    return text.find_first_not_of(allowed) == std::string::npos;
}

// What a card command may answer: the open slot, ':', the operation's text.
void CheckAnswer(int id, const CString& answer)
{
    const std::string& text = answer.str();
    Require(text.size() >= 2 && text[1] == ':');
    Require(text[0] == '0' || text[0] == '1');
    const std::string operation = text.substr(2);
    switch (id) {
    case 11: case 17: case 19: case 25: case 26: Require(operation == "9"); break;
    case 27: Require(text == "1:9"); break;
    case 52: Require(operation == "TRUE"); break;
    case 13: Require(operation == "2" || (operation.size() <= 16 && OnlyOf(operation, "0123456789abcdef"))); break;
    case 14: Require(operation == "N" || OnlyOf(operation, "0123456789")); break;
    case 20: case 21: case 22: case 23:
        // The block in hexadecimal (with the byte after it), or a code.
        Require(!operation.empty() && OnlyOf(operation, "0123456789abcdef"));
        Require(operation.size() <= 2 * card::kReaderReplyCapacity + 2);
        break;
    case 18: Require(operation == "0" || operation == "1"); break;
    default: Require(!operation.empty() && operation.size() <= 2 && OnlyOf(operation, "0123456789")); break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    const bool readerLibrary = input.Byte() == 0;
    FuzzReaderLibrary library(input);
    FuzzPcscLink pcsc(input);
    PickedPrinter printer;
    COBUIssueCtrl ctrl;
    ctrl.CardAccess().UseLinks(readerLibrary ? &library : nullptr, &pcsc);
    ctrl.UseReceiptPrinter(&printer, [] { return std::tm{}; });

    // The status decoding on its own: any reply, any length.
    {
        const std::vector<uint8_t> reply = input.Counted();
        std::vector<uint8_t> buffer(reply.begin(), reply.end());
        size_t length = buffer.size();
        const int code = card::DecodeStatus(buffer.data(), length);
        Require(length == reply.size() || (length + 1 == reply.size() && reply[0] == 0x1C));
        Require(code == card::kStatusOther || code == card::kStatus6E00 || code == card::kStatusNoReply ||
                code == card::kStatus6985 || code == card::kStatusDone || code == card::kStatusData);
        Require((code == card::kStatusData) == (length >= 3));
    }

    while (!input.Empty()) {
        const int id = kCardCommandIds[input.Byte() % (sizeof kCardCommandIds / sizeof kCardCommandIds[0])];
        const CString param = TakesText(id) ? CString(input.Text()) : CString();
        CString answer;
        Require(ctrl.RunCommand(id, param, answer));
        CheckAnswer(id, answer);
    }
    return 0;
}
