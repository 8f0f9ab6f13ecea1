// The fingerprint screens' picture and button controls.
//
// CBitmapPicture: a bitmap loaded from the program's resources, either a
// plain bitmap (type "BMP") or any picture format the system's picture loader
// reads (other resource types), drawn at the origin of a device context.
//
// CImageButton: an owner-drawn push button painted from six pictures chosen
// by its state (pressed, focus, disabled, hover, normal; the fourth is loaded
// and never drawn), with a hover picture that follows the mouse (a 100 ms
// timer notices when it leaves), a tooltip, optional sounds, and notices
// 0x5900 / 0x5901 posted to the parent when the left button goes down / up.
#pragma once

#include <windows.h>

#include "framework/button_win.h"
#include "framework/cstring.h"

struct IPicture;

class CBitmapPicture {
public:
    CBitmapPicture() = default;
    ~CBitmapPicture();
    CBitmapPicture(const CBitmapPicture&) = delete;
    CBitmapPicture& operator=(const CBitmapPicture&) = delete;

    // Releases what is loaded, then loads resource `id` of `type`: 1 done, 0 not.
    BOOL Load(UINT id, const char* type);
    // Copies the whole bitmap to `dc` at 0, 0; 0 when there is no context.
    BOOL Draw(HDC dc) const;
    // Makes the picture object from the bytes of a picture file.
    BOOL LoadPictureData(const BYTE* data, size_t size);

    HBITMAP Handle() const { return m_hBitmap; }
    int Width() const { return m_nWidth; }
    int Height() const { return m_nHeight; }

    // A picture width or height in 0.01 mm as whole pixels at 96 dpi.
    static int HimetricToPixels(long himetric) { return MulDiv(himetric, 96, 2540); }

private:
    void Release();
    BOOL PictureToBitmap();

    HBITMAP m_hBitmap = nullptr;
    int m_nHeight = 0;
    unsigned m_nSize = 0;
    int m_nWidth = 0;
    IPicture* m_pPicture = nullptr;
};

class CImageButton : public CButton {
public:
    enum Picture { kNormal, kPressed, kFocus, kDisabled, kHover, kFourth, kPictureCount };
    static constexpr UINT kButtonDownNotice = 0x5900;
    static constexpr UINT kButtonUpNotice = 0x5901;
    static constexpr UINT_PTR kHoverTimer = 1;

    // Six bitmap resource ids in this order: normal, pressed, hover, fourth,
    // focus, disabled. TRUE when all six loaded.
    BOOL LoadBitmaps(UINT normal, UINT pressed, UINT hover, UINT fourth, UINT focus, UINT disabled);
    void SetToolTipText(const char* text);
    void DrawItem(DRAWITEMSTRUCT* item) override;

    bool IsHovering() const { return m_bHover; }
    HWND ToolTip() const { return m_hToolTip; }
    // The picture DrawItem chooses for an item state.
    Picture ChoosePicture(UINT itemState) const;

    CString m_strClickSound;
    CString m_strHoverSound;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnTimer(UINT_PTR id) override;

private:
    void RelayToToolTip(UINT message, WPARAM wParam, LPARAM lParam);
    void PlaySoundFile(const CString& file);

    bool m_bToggle = false;
    bool m_bToggleState = false;
    bool m_bHasHover = false;
    bool m_bHasFourth = false;
    bool m_bHover = false;
    CBitmapPicture m_Pictures[kPictureCount];
    HWND m_hToolTip = nullptr;
};
