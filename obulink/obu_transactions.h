// The five secured OBU transactions, each one command over the secure
// exchange (secure_exchange.h):
//
//   class              command  request            success text
//   CDoActiveOBU       0x01     80 bytes, 2 reports the information text
//   CDoResetOBU        0x02     16 bytes, 1 report  the empty text
//   CDoChangeOBUinfo   0x03     80 bytes, 2 reports the information text
//   CDoReactiveOBU     0x04     80 bytes, 2 reports the information text
//   CDoGetOBUinfo      0x05     16 bytes, 1 report  the information text
//
// Every entry answers "0" (no answer in time), "2" (handshake refused or
// status bit 1), "1" (any other non-zero status) or its success text. The
// 80-byte commands carry the information record (obu_info.h) in bytes 16-48.
// The controller (obu_controller.h) builds each on its stack with a copy of
// its device record and product key; the device handle is never closed here.
#pragma once

#include <cstdint>

#include "framework/cstring.h"
#include "obulink/obu_info.h"
#include "obulink/secure_exchange.h"

// What the five have in common: their trace lines and how the outcome is worded.
class CObuTransaction : public CSecureExchange {
public:
    CObuTransaction(const CHidDeviceRecord& device, const uint8_t productKey[16]);

protected:
    // The whole exchange and its result text.
    CString RunToText();
    // The success text from the answer data (traces its own lines).
    virtual CString SuccessText();
    // Whether each report written is traced "[암호화된 요청정보]" first.
    virtual bool TracesReports() const { return true; }
    // The answer traces of the information transactions ("[OBU 정보 요청-결과값]"
    // and all answer bytes), or those of the activations ("[OBU 발급 요청-결과값->복호화]"
    // and the data bytes).
    virtual bool TracesAnswerAsInformation() const { return true; }

    void SendReport(const uint8_t* report) override;
    void TraceAnswerReceived(const uint8_t* cipher, size_t n) override;
    void TraceAnswerDecrypted(const uint8_t* plain, size_t n) override;
};

// An 80-byte command that writes the OBU's information.
class CObuWriteTransaction : public CObuTransaction {
public:
    CObuWriteTransaction(const CHidDeviceRecord& device, const uint8_t productKey[16], uint8_t command,
                         const ObuInfoArea& info, uint8_t flags);

    static constexpr size_t kCommandLength = 80;

protected:
    size_t ComposeCommand(uint8_t* message) override;
    void TraceCommand(const uint8_t* plain, size_t n, const uint8_t* cipher) override;
    void TraceBeforeCommandReport(size_t reportIndex, const uint8_t* cipher) override;
    virtual const char* RequestLabel() const { return "[doActiveOBU 요청]"; }

    ObuInfoArea m_OBUInfo;
    uint8_t m_ChangeFlags;

private:
    uint8_t m_command;
};

class CDoActiveOBU : public CObuWriteTransaction {
public:
    CDoActiveOBU(const CHidDeviceRecord& device, const uint8_t productKey[16], const ObuInfoArea& info)
        : CObuWriteTransaction(device, productKey, 0x01, info, kAllFieldsFlags) {}
    CString DoActiveOBU() { return RunToText(); }

protected:
    const char* StartBanner() const override { return "================> Start : Do Active OBU  <=================="; }
    const char* FinishBanner() const override { return "======> Finish DoActiveOBU Transaction <======"; }
    bool TracesReports() const override { return false; }
    bool TracesAnswerAsInformation() const override { return false; }
};

class CDoReactiveOBU : public CObuWriteTransaction {
public:
    CDoReactiveOBU(const CHidDeviceRecord& device, const uint8_t productKey[16], const ObuInfoArea& info)
        : CObuWriteTransaction(device, productKey, 0x04, info, kAllFieldsFlags) {}
    CString DoReactiveOBU() { return RunToText(); }

protected:
    const char* StartBanner() const override { return "================> Start : Do ReActive OBU  <=================="; }
    const char* FinishBanner() const override { return "======> Finish DoReactiveOBU Transaction <======"; }
    const char* RequestLabel() const override { return "[doReactiveOBU 요청]"; }
    bool TracesAnswerAsInformation() const override { return false; }
};

class CDoChangeOBUinfo : public CObuWriteTransaction {
public:
    CDoChangeOBUinfo(const CHidDeviceRecord& device, const uint8_t productKey[16], const ObuInfoArea& info,
                     uint8_t changeFlags)
        : CObuWriteTransaction(device, productKey, 0x03, info, changeFlags) {}
    CString ChangeOBUInfo() { return RunToText(); }

protected:
    const char* StartBanner() const override { return "================> Start : Change OBU Info <=================="; }
    const char* FinishBanner() const override { return "======> Finish Change OBUINFO Transaction <======"; }
    bool TracesProductNum() const override { return false; }
};

// A 16-byte command without data.
class CObuQueryTransaction : public CObuTransaction {
public:
    CObuQueryTransaction(const CHidDeviceRecord& device, const uint8_t productKey[16], uint8_t command)
        : CObuTransaction(device, productKey), m_command(command) {}

    static constexpr size_t kCommandLength = 16;

protected:
    size_t ComposeCommand(uint8_t* message) override;
    void TraceCommand(const uint8_t* plain, size_t n, const uint8_t* cipher) override;

private:
    uint8_t m_command;
};

class CDoGetOBUinfo : public CObuQueryTransaction {
public:
    CDoGetOBUinfo(const CHidDeviceRecord& device, const uint8_t productKey[16])
        : CObuQueryTransaction(device, productKey, 0x05) {}
    CString GetOBUInfo() { return RunToText(); }

protected:
    const char* StartBanner() const override { return "================> Start : Get OBU Info <=================="; }
    const char* FinishBanner() const override { return "======> Finish Get OBUINFO Transaction <======"; }
    void TraceRandomKeyAnswer(const uint8_t* received, const uint8_t* plain) override;
};

class CDoResetOBU : public CObuQueryTransaction {
public:
    CDoResetOBU(const CHidDeviceRecord& device, const uint8_t productKey[16])
        : CObuQueryTransaction(device, productKey, 0x02) {}
    CString ResetOBU() { return RunToText(); }

protected:
    const char* StartBanner() const override { return "================> Start : Reset OBU <=================="; }
    const char* FinishBanner() const override { return "======> Finish Reset OBUTransaction <======"; }
    CString SuccessText() override;
};
