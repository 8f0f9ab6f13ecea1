// The message boxes that the biometric-unit transactions and screens show the
// operator, behind one small seam: owner window, text, caption and box type in,
// the button pressed out. Texts and captions are ANSI (code page 949) bytes.
//
// The Windows builds show them with MessageBoxA; the host build has no display
// and answers OK at once. Tests install their own (ScopedBiuMessageBoxes) to see
// every box and dismiss it.
#pragma once

#include <cstdint>

// A window handle (HWND) as the portable code carries it; null: no owner.
using BiuOwnerWindow = void*;

// Box types and results, with the values of the Windows message box.
inline constexpr unsigned kBiuBoxOk = 0x00000000;         // MB_OK
inline constexpr unsigned kBiuBoxIconError = 0x00000010;  // MB_ICONERROR
inline constexpr int kBiuBoxResultOk = 1;                 // IDOK

class BiuMessageBoxes {
public:
    virtual ~BiuMessageBoxes() = default;
    // Shows one box and returns when the operator has closed it.
    virtual int Show(BiuOwnerWindow owner, const char* text, const char* caption, unsigned type) = 0;
};

BiuMessageBoxes& ActiveBiuMessageBoxes();
BiuMessageBoxes& SystemBiuMessageBoxes();  // defined per platform

class ScopedBiuMessageBoxes {
public:
    explicit ScopedBiuMessageBoxes(BiuMessageBoxes& boxes);
    ~ScopedBiuMessageBoxes();
    ScopedBiuMessageBoxes(const ScopedBiuMessageBoxes&) = delete;
    ScopedBiuMessageBoxes& operator=(const ScopedBiuMessageBoxes&) = delete;

private:
    BiuMessageBoxes* m_previous;
};

// Shows a box through the active boxes.
int ShowBiuMessageBox(BiuOwnerWindow owner, const char* text, const char* caption, unsigned type = kBiuBoxOk);
