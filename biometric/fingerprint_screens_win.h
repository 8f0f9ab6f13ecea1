// The two fingerprint screens, modal dialogs without caption on the calling
// thread (a web request's), each with the exchange of screen_exchange.h on its
// own reader thread:
//   CMainPage  registration (template 310): choose a finger, first scan,
//              confirmation scan, done
//   CVerify    verification (template 341): prompt, one verdict, next
// The reader thread decides; what it asks of the window (timers, images, the
// success page, the end of the screen) is carried out on the screen's own
// thread through a private message. Message boxes go through the unit's
// message-box seam (biu_message_box.h) with the screen as owner. When the
// screen ends, the boxes its reader shows are closed (as OK) so that the end
// never waits for an operator.
//
// When the unit stays silent (no answer for SilenceLimitMs after a request)
// the operator is told so and given a way out: the registration screen shows
// its cancel button again in step 2; the verification screen's next button
// is always there. The normal course is unchanged.
#pragma once

#include <windows.h>

#include <memory>
#include <mutex>
#include <vector>

#include "biometric/biu_controller.h"
#include "biometric/image_controls_win.h"
#include "biometric/screen_exchange.h"
#include "framework/dialog_win.h"

// Shared by both screens: the bridge from the reader thread to the window.
class CFingerprintScreen : public CDialog, public ScreenWindow {
public:
    static constexpr UINT kScreenAction = WM_APP + 0x310;
    static constexpr UINT_PTR kSilenceTimer = 1003;
    static uint32_t SilenceLimitMs();
    static void SetSilenceLimitMs(uint32_t ms);  // tests
    static constexpr const char* kSilentUnitText = "지문 입력 장치가 응답하지 않습니다.";

    // ScreenWindow (any thread)
    void ShowBox(const char* text, bool appCaption) override;
    void StartRetryTimer(unsigned id, unsigned ms) override;
    void ShowScanImage(bool confirmation, const ScanImage& image) override;
    void FinishRegistration() override;
    void CloseScreen() override;
    void Repaint() override;
    void CloseReaderBoxes() override;

protected:
    using CDialog::CDialog;
    enum Action : WPARAM { kStartTimer, kShowImage, kFinish, kClose };
    struct ImageAction {
        bool confirmation;
        const ScanImage* image;
    };

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    // Enter and Escape do nothing.
    void OnOK() override {}
    void OnCancel() override {}
    virtual void OnShowScanImage(bool, const ScanImage&) {}
    virtual void OnFinishRegistration() {}
    // Comes to the front over the foreground window of another thread.
    void ComeToFront();
    void ShowCentredInFront();
    void FitClientTo(int width, int height);

private:
    // The threads in ShowBox now, one entry a box.
    std::mutex m_BoxLock;
    std::vector<DWORD> m_BoxThreads;
};

class CMainPage : public CFingerprintScreen {
public:
    explicit CMainPage(const FingerprintRegistration& input);
    ~CMainPage() override;

    CRegistScan& Exchange() { return *m_pScan; }
    int Step() const { return m_pScan->Step(); }

    // The finger of button id 3002..3011 (L5 .. R1 = 10 .. 1).
    static int FingerOfButton(UINT id) { return id >= 3002 && id <= 3011 ? static_cast<int>(3012 - id) : 0; }

protected:
    BOOL OnInitDialog() override;
    void OnPaint() override;
    void OnTimer(UINT_PTR id) override;
    BOOL OnCmdMsg(UINT id, UINT code) override;
    void OnShowScanImage(bool confirmation, const ScanImage& image) override;
    void OnFinishRegistration() override { EndFingerRegist(); }

    void OnFingerButton(int finger);
    void OnCancelRegist();
    void StartFingerRegist();
    void EndFingerRegist();
    void DrawScanImage(const ScanImage& image);
    void DrawConfirmImage(const ScanImage& image);

private:
    void DrawImage(int which, const ScanImage& image, int top, HWND frame);
    void SetPage(HBITMAP page);

    FingerprintRegistration m_Input;
    std::unique_ptr<CRegistScan> m_pScan;
    CBitmapPicture m_Background;
    CImageButton m_Fingers[10];  // ids 3002..3011
    CImageButton m_Cancel;
    CImageButton m_Done;
    HBITMAP m_hPages[3] = {};    // 330, 323, 328
    HBITMAP m_hHands[2] = {};    // 321, 322
    HDC m_hMemDC[2] = {};
    HBITMAP m_hImage[2] = {};
    HGDIOBJ m_hOldImage[2] = {};
    bool m_bImageShown[2] = {};
    int m_nImageWidth = 0;
    int m_nImageHeight = 0;
    int m_nBlink = 0;
    bool m_bWayOutOffered = false;
};

class CVerify : public CFingerprintScreen {
public:
    explicit CVerify(const FingerprintVerification& input);
    ~CVerify() override;

    CVerifyScan& Exchange() { return *m_pScan; }

protected:
    BOOL OnInitDialog() override;
    void OnPaint() override;
    void OnTimer(UINT_PTR id) override;
    BOOL OnCmdMsg(UINT id, UINT code) override;
    void OnNext();

private:
    FingerprintVerification m_Input;
    std::unique_ptr<CVerifyScan> m_pScan;
    CBitmapPicture m_Background;
    CImageButton m_Next;
    bool m_bSilenceTold = false;
};

// The screens as the controller runs them.
class CWindowsFingerprintScreens : public FingerprintScreens {
public:
    void RunRegistration(const FingerprintRegistration& input) override;
    void RunVerification(const FingerprintVerification& input) override;
};
