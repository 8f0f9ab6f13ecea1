// The receipt for the OBU fee: one page of text lines for a receipt printer
// that understands ESC/POS sequences, sent as a print job "IssueSystem" to the
// printer the operator picks.
#pragma once

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "framework/cstring.h"

// A printer device context, as the receipt uses it. Destroying it deletes it.
// Each call answers whether the device took it.
class IPrintContext {
public:
    virtual ~IPrintContext() = default;
    virtual bool StartDoc(const char* documentName) = 0;
    virtual bool StartPage() = 0;
    virtual bool TextOut(int x, int y, const char* bytes, int count) = 0;
    virtual bool EndPage() = 0;
    virtual bool EndDoc() = 0;
    // Height of one line of the context's current font, in device units.
    virtual int LineHeight() = 0;
};

// The print dialog: the context of the printer the operator chose, or null when
// the dialog was cancelled or there is no printer.
class IPrintDialog {
public:
    virtual ~IPrintDialog() = default;
    virtual std::unique_ptr<IPrintContext> Show() = 0;
};

struct ReceiptLine {
    int number;         // the line's place on the page, from 0
    std::string bytes;  // what is drawn, control sequences included
};

constexpr const char* kReceiptDocumentName = "IssueSystem";

// "%d.%d.%d %d:%d:%d": year, month, day, hour, minute, second, no leading zeros.
std::string ReceiptDateText(const std::tm& localTime);

// The 25 lines of the receipt for `amount` (printed as given) on `dateText`.
std::vector<ReceiptLine> ReceiptLines(const CString& amount, const std::string& dateText);

// Prints the lines as one document of one page, each line at x 0 and at its
// line number times the context's line height. Every call is made whatever the
// earlier ones answered; true when the device took every one of them.
bool PrintReceiptLines(IPrintContext& context, const std::vector<ReceiptLine>& lines);
