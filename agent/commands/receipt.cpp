#include "agent/commands/receipt.h"

#include <cstdio>

std::string ReceiptDateText(const std::tm& t)
{
    char text[64];
    std::snprintf(text, sizeof text, "%d.%d.%d %d:%d:%d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour,
                  t.tm_min, t.tm_sec);
    return text;
}

std::vector<ReceiptLine> ReceiptLines(const CString& amount, const std::string& dateText)
{
    using namespace std::string_literals;
    const std::string lineBreak = "\x0A\x0D";
    return {
        {0, "\x1B\x61\x01"},  // ESC/POS: centre
        {1, "\x1B\x21\x30"},  // double height and width
        {2, "\x1B\x2D\x01"},  // underline on
        {3, "영    수    증"},
        {4, lineBreak},
        {5, lineBreak},
        {6, "\x1B\x40"},           // initialise the printer
        {7, "\x1B\x2D\x00\x00"s},  // underline off, and one zero byte
        {8, " 금     액  :  " + amount.str() + "원정"},
        {9, lineBreak},
        {10, " 내     역 : OBU선수임대료"},
        {11, lineBreak},
        {12, "                    상기금액을 정히 영수함"},
        {13, lineBreak},
        {14, " 일     자 :  " + dateText},
        {15, lineBreak},
        {16, lineBreak},
        {17, " 사업자등록번호 : 314-27-58160"},
        {18, lineBreak},
        {19, lineBreak},
        {20, "  0. 발행기관 :  미리내상사 본사(인)"},
        {22, lineBreak},
        {23, lineBreak},
        {25, "본 영수증은 OBU선수임대료"},
        {26, " 수수에 관한 확인증서 입니다."},
    };
}

bool PrintReceiptLines(IPrintContext& context, const std::vector<ReceiptLine>& lines)
{
    bool taken = context.StartDoc(kReceiptDocumentName);
    taken &= context.StartPage();
    const int lineHeight = context.LineHeight() > 0 ? context.LineHeight() : 1;
    for (const ReceiptLine& line : lines)
        taken &= context.TextOut(0, line.number * lineHeight, line.bytes.data(), static_cast<int>(line.bytes.size()));
    taken &= context.EndPage();
    taken &= context.EndDoc();
    return taken;
}
