// The Windows side of the card access and the receipt: CCardReader binding and
// driving the smart-card service (a virtual one with the virtual issuing card in
// its reader), and the receipt drawn by GDI into a memory bitmap, kept as
// receipt.bmp in the test's build folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "agent/card/card_reader_win.h"
#include "agent/commands/obu_issue_ctrl.h"
#include "tests/agent/fixed_time.h"
#include "agent/commands/receipt_gdi_win.h"
#include "tests/sim/sim_card_links.h"
#include "tests/sim/virtual_winscard_win.h"

using sim::VirtualWinSCard;

namespace {

const std::vector<std::string> kTenFunctions = {
    "SCardEstablishContext", "SCardConnectA",     "SCardBeginTransaction", "SCardGetStatusChangeA",
    "SCardTransmit",         "SCardStatusA",      "SCardListReadersA",     "SCardEndTransaction",
    "SCardDisconnect",       "SCardReleaseContext"};

// The controller with only the PC/SC link (no reader library port opens).
struct PcscBench {
    PcscBench() : reader(binder), noReader(card, 0, sim::CardPresence::kNone)
    {
        sim::ResetVirtualWinSCard(&card);
        ctrl.CardAccess().UseLinks(&noReader, &reader);
    }
    CString Run(int id, const CString& param = "")
    {
        CString result;
        EXPECT_TRUE(ctrl.RunCommand(id, param, result));
        return result;
    }

    sim::VirtualIssuingCard card;
    sim::VirtualWinSCardBinder binder;
    card::CCardReader reader;
    sim::SimReaderLibrary noReader;
    COBUIssueCtrl ctrl;
};

}  // namespace

TEST(CardReader, IssueCardNumberOverPcsc)  // id 13
{
    PcscBench bench;
    EXPECT_EQ(bench.Run(13), "1:102030405060708f");
    EXPECT_EQ(VirtualWinSCard().lookups, kTenFunctions);
    EXPECT_EQ(VirtualWinSCard().calls,
              (std::vector<std::string>{"SCardEstablishContext 0", "SCardListReadersA",
                                        "SCardConnectA Virtual Issuing Reader 0 2 3", "SCardStatusA",
                                        "SCardTransmit T0 00 A4 04 00 07 A0 00 00 02 45 00 01",
                                        "SCardTransmit T0 00 B0 88 00 3C", "SCardDisconnect 3",
                                        "SCardReleaseContext"}));
    EXPECT_TRUE(VirtualWinSCard().contexts.empty());
    EXPECT_TRUE(VirtualWinSCard().cards.empty());
}

TEST(CardReader, SendsWithTheNegotiatedProtocol)
{
    PcscBench bench;
    VirtualWinSCard().cardProtocol = SCARD_PROTOCOL_T1;
    EXPECT_EQ(bench.Run(13), "1:102030405060708f");
    EXPECT_EQ(VirtualWinSCard().calls[5], "SCardTransmit T1 00 B0 88 00 3C");
    EXPECT_EQ(bench.Run(29, "01,00,50,16,6194,20050101,20070101,01,0,0,"), "1:1");
}

TEST(CardReader, ServiceBoundOnceAndFailedOpensReleaseTheirContext)
{
    PcscBench bench;
    VirtualWinSCard().cardPresent = false;
    EXPECT_EQ(bench.Run(11), "0:9");
    EXPECT_TRUE(VirtualWinSCard().contexts.empty()) << "a connect that found no card releases its context";
    VirtualWinSCard().readerPresent = false;
    EXPECT_EQ(bench.Run(14), "0:N");
    EXPECT_TRUE(VirtualWinSCard().contexts.empty());
    VirtualWinSCard().establishResult = SCARD_E_NO_SERVICE;
    EXPECT_EQ(bench.Run(13), "0:2");

    VirtualWinSCard().establishResult = SCARD_S_SUCCESS;
    VirtualWinSCard().readerPresent = true;
    VirtualWinSCard().cardPresent = true;
    EXPECT_EQ(bench.Run(11), "1:9");
    EXPECT_EQ(VirtualWinSCard().contexts.size(), 1u);
    EXPECT_EQ(bench.Run(11), "1:9");
    EXPECT_EQ(VirtualWinSCard().contexts.size(), 1u) << "opening again closes the open link first";
    EXPECT_EQ(VirtualWinSCard().cards.size(), 1u);
    EXPECT_EQ(bench.binder.Loads(), 1) << "the library is loaded once";
    EXPECT_EQ(VirtualWinSCard().lookups, kTenFunctions) << "and its functions looked up once";
    EXPECT_EQ(bench.Run(27), "1:9");
    EXPECT_TRUE(VirtualWinSCard().contexts.empty());
    EXPECT_TRUE(VirtualWinSCard().cards.empty());
}

TEST(CardReader, MissingFunctionMeansNoPcsc)
{
    for (const std::string& missing : {std::string("SCardBeginTransaction"), std::string("SCardReleaseContext")}) {
        PcscBench bench;
        VirtualWinSCard().withheld = {missing};
        EXPECT_EQ(bench.Run(13), "0:2") << missing;
        EXPECT_TRUE(VirtualWinSCard().calls.empty()) << "nothing called when one of the ten is missing";
        EXPECT_EQ(VirtualWinSCard().lookups.back(), missing) << "the lookup stops at the first missing one";
    }
    // No library at all.
    struct NoLibrary : card::IModuleBinder {
        HMODULE Load(const char*) override { return nullptr; }
        FARPROC Find(HMODULE, const char*) override { return nullptr; }
    } none;
    card::CCardReader reader(none);
    EXPECT_FALSE(reader.Connect());
    reader.Close();
}

TEST(CardReader, SilenceIsNoAnswer)
{
    PcscBench bench;
    bench.card.AnswerSilence(0x1E);
    EXPECT_EQ(bench.Run(29, "01,00,50,16,6194,20050101,20070101,01,0,0,"), "1:0");
    EXPECT_EQ(bench.Run(16), "1:0");
    bench.card.AnswerSilence(0xB0);
    EXPECT_EQ(bench.Run(13), "1:");
    bench.card.AnswerSilence(0x1C);
    EXPECT_EQ(bench.Run(20), "1:0");
    bench.card.AnswerSilence(0xCA);
    EXPECT_EQ(bench.Run(14), "1:0");
}

TEST(CardReader, CloseStepAtExitDisconnectsTheCard)
{
    sim::VirtualIssuingCard card;
    sim::VirtualWinSCardBinder binder;
    card::CCardReader reader(binder);
    sim::SimReaderLibrary noReader(card, 0, sim::CardPresence::kNone);
    sim::ResetVirtualWinSCard(&card);
    {
        COBUIssueCtrl ctrl;
        ctrl.CardAccess().UseLinks(&noReader, &reader);
        CString result;
        ctrl.RunCommand(25, "", result);
        EXPECT_EQ(result, "1:9");
        EXPECT_EQ(VirtualWinSCard().cards.size(), 1u);
    }
    EXPECT_TRUE(VirtualWinSCard().cards.empty());
    EXPECT_TRUE(VirtualWinSCard().contexts.empty());
    EXPECT_EQ(VirtualWinSCard().calls.back(), "SCardReleaseContext");
    EXPECT_EQ(VirtualWinSCard().calls[VirtualWinSCard().calls.size() - 2], "SCardDisconnect 3");
}

// ------------------------------------------------------------------ receipt

namespace {

constexpr int kPageWidth = 640;
constexpr int kPageHeight = 900;

// A memory device context drawing into a bitmap: the lines are drawn for real,
// and the document and page calls, which a bitmap has no use for, succeed.
class BitmapContext : public CGdiPrintContext {
public:
    using CGdiPrintContext::CGdiPrintContext;
    bool StartDoc(const char*) override { return true; }
    bool StartPage() override { return true; }
    bool EndPage() override { return true; }
    bool EndDoc() override { return true; }
};

// A print dialog that "returns" a memory device context drawing into a bitmap.
class BitmapDialog : public IPrintDialog {
public:
    BitmapDialog()
    {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = kPageWidth;
        info.bmiHeader.biHeight = -kPageHeight;  // top-down
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 24;
        info.bmiHeader.biCompression = BI_RGB;
        m_bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &m_bits, nullptr, 0);
    }
    ~BitmapDialog() override { DeleteObject(m_bitmap); }

    std::unique_ptr<IPrintContext> Show() override
    {
        HDC dc = CreateCompatibleDC(nullptr);
        SelectObject(dc, m_bitmap);
        PatBlt(dc, 0, 0, kPageWidth, kPageHeight, WHITENESS);
        return std::make_unique<BitmapContext>(dc);
    }

    static int Stride() { return (kPageWidth * 3 + 3) & ~3; }
    bool Inked(int y) const
    {
        const auto* row = static_cast<const uint8_t*>(m_bits) + static_cast<size_t>(y) * Stride();
        for (int x = 0; x < kPageWidth * 3; ++x)
            if (row[x] != 0xFF)
                return true;
        return false;
    }

    void Save(const char* path) const
    {
        const DWORD imageSize = static_cast<DWORD>(Stride() * kPageHeight);
        BITMAPFILEHEADER file = {};
        BITMAPINFOHEADER header = {};
        header.biSize = sizeof header;
        header.biWidth = kPageWidth;
        header.biHeight = -kPageHeight;
        header.biPlanes = 1;
        header.biBitCount = 24;
        header.biCompression = BI_RGB;
        header.biSizeImage = imageSize;
        file.bfType = 0x4D42;
        file.bfOffBits = sizeof file + sizeof header;
        file.bfSize = file.bfOffBits + imageSize;
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(&file), sizeof file);
        out.write(reinterpret_cast<const char*>(&header), sizeof header);
        out.write(static_cast<const char*>(m_bits), imageSize);
    }

private:
    HBITMAP m_bitmap = nullptr;
    void* m_bits = nullptr;
};


}  // namespace

TEST(Receipt, DrawnLineUnderLineIntoABitmap)  // id 52
{
    PcscBench bench;
    BitmapDialog dialog;
    bench.ctrl.UseReceiptPrinter(&dialog, FixedTime);
    EXPECT_EQ(bench.Run(52, "15000"), "1:TRUE");
    dialog.Save("receipt.bmp");

    // The lines do not fall on one another: the ink makes separate bands, one
    // for each text line at least (the line breaks draw nothing visible).
    int bands = 0;
    bool inBand = false;
    for (int y = 0; y < kPageHeight; ++y) {
        const bool inked = dialog.Inked(y);
        bands += inked && !inBand;
        inBand = inked;
    }
    EXPECT_GE(bands, 10) << "see receipt.bmp";
    EXPECT_TRUE(std::ifstream("receipt.bmp").good());
}
