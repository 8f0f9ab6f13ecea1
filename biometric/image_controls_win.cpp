#include "biometric/image_controls_win.h"

#include <commctrl.h>
#include <ole2.h>
#include <olectl.h>
#include <mmsystem.h>

#include <cstdio>
#include <cstring>

#include "framework/app_win.h"
#include "framework/message_box_win.h"

namespace {

void PictureError(const char* text)
{
    CWnd* main = AfxGetMainWnd();
    corvane::ShowMessageBox(main ? main->m_hWnd : nullptr, text, "CPanoramaBitmap Error", MB_OK | MB_ICONERROR);
}

}  // namespace

// ---------------------------------------------------------------- CBitmapPicture

CBitmapPicture::~CBitmapPicture()
{
    Release();
}

void CBitmapPicture::Release()
{
    if (m_pPicture) {
        m_pPicture->Release();
        m_pPicture = nullptr;
    }
    if (m_hBitmap) {
        DeleteObject(m_hBitmap);
        m_hBitmap = nullptr;
    }
    m_nWidth = m_nHeight = 0;
}

BOOL CBitmapPicture::Load(UINT id, const char* type)
{
    Release();
    HINSTANCE instance = AfxGetInstanceHandle();
    if (std::strcmp(type, "BMP") == 0) {
        m_hBitmap = static_cast<HBITMAP>(LoadImageA(instance, MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
        if (!m_hBitmap) return 0;
        BITMAP info{};
        GetObjectA(m_hBitmap, sizeof info, &info);
        m_nWidth = info.bmWidth;
        m_nHeight = info.bmHeight;
        return 1;
    }
    HRSRC found = FindResourceA(instance, MAKEINTRESOURCEA(id), type);
    if (!found) {
        PictureError("FindResource() Failed\t");
        return 0;
    }
    HGLOBAL loaded = LoadResource(instance, found);
    if (!loaded) {
        PictureError("LoadResource() Failed\t");
        return 0;
    }
    const BYTE* bytes = static_cast<const BYTE*>(LockResource(loaded));
    if (!bytes) {
        PictureError("LockResource() Failed\t");
        return 0;
    }
    m_nSize = SizeofResource(instance, found);
    if (!LoadPictureData(bytes, m_nSize) || !m_pPicture) return 0;
    OLE_XSIZE_HIMETRIC width = 0;
    OLE_YSIZE_HIMETRIC height = 0;
    m_pPicture->get_Width(&width);
    m_pPicture->get_Height(&height);
    m_nWidth = HimetricToPixels(width);
    m_nHeight = HimetricToPixels(height);
    return PictureToBitmap();
}

BOOL CBitmapPicture::LoadPictureData(const BYTE* data, size_t size)
{
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!block) {
        char text[96];
        std::snprintf(text, sizeof text, "LoadPictureData()\nCan not allocate enough memory\t Error Code : %lu",
                      GetLastError());
        PictureError(text);
        return 0;
    }
    void* target = GlobalLock(block);
    std::memcpy(target, data, size);
    GlobalUnlock(block);
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(block, TRUE, &stream))) {
        GlobalFree(block);
        return 0;
    }
    const HRESULT loaded = OleLoadPicture(stream, static_cast<LONG>(size), FALSE, IID_IPicture,
                                          reinterpret_cast<void**>(&m_pPicture));
    stream->Release();
    if (loaded == E_NOINTERFACE) {
        PictureError("IPicture interface is not supported\t");
        return 0;
    }
    return SUCCEEDED(loaded) && m_pPicture;
}

BOOL CBitmapPicture::PictureToBitmap()
{
    // The picture renders itself into a screen-compatible bitmap of its size.
    if (m_nWidth <= 0 || m_nHeight <= 0) return 0;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    m_hBitmap = CreateCompatibleBitmap(screen, m_nWidth, m_nHeight);
    ReleaseDC(nullptr, screen);
    if (!m_hBitmap) {
        DeleteDC(memory);
        return 0;
    }
    HGDIOBJ old = SelectObject(memory, m_hBitmap);
    OLE_XSIZE_HIMETRIC width = 0;
    OLE_YSIZE_HIMETRIC height = 0;
    m_pPicture->get_Width(&width);
    m_pPicture->get_Height(&height);
    m_pPicture->Render(memory, 0, 0, m_nWidth, m_nHeight, 0, height, width, -height, nullptr);
    SelectObject(memory, old);
    DeleteDC(memory);
    return 1;
}

BOOL CBitmapPicture::Draw(HDC dc) const
{
    if (!dc || !m_hBitmap) return 0;
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(memory, m_hBitmap);
    const BOOL copied = BitBlt(dc, 0, 0, m_nWidth, m_nHeight, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
    return copied;
}

// ------------------------------------------------------------------ CImageButton

BOOL CImageButton::LoadBitmaps(UINT normal, UINT pressed, UINT hover, UINT fourth, UINT focus, UINT disabled)
{
    const bool n = m_Pictures[kNormal].Load(normal, "BMP");
    const bool p = m_Pictures[kPressed].Load(pressed, "BMP");
    m_bHasHover = m_Pictures[kHover].Load(hover, "BMP");
    m_bHasFourth = m_Pictures[kFourth].Load(fourth, "BMP");
    const bool f = m_Pictures[kFocus].Load(focus, "BMP");
    const bool d = m_Pictures[kDisabled].Load(disabled, "BMP");
    return n && p && m_bHasHover && m_bHasFourth && f && d;
}

void CImageButton::SetToolTipText(const char* text)
{
    if (!m_hToolTip) {
        m_hToolTip = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                     CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m_hWnd, nullptr,
                                     AfxGetInstanceHandle(), nullptr);
        TOOLINFOA tool{};
        tool.cbSize = sizeof tool;
        tool.uFlags = TTF_IDISHWND;
        tool.hwnd = m_hWnd;
        tool.uId = reinterpret_cast<UINT_PTR>(m_hWnd);
        tool.lpszText = const_cast<char*>(text);
        ::SendMessageA(m_hToolTip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    } else {
        TOOLINFOA tool{};
        tool.cbSize = sizeof tool;
        tool.hwnd = m_hWnd;
        tool.uId = reinterpret_cast<UINT_PTR>(m_hWnd);
        tool.lpszText = const_cast<char*>(text);
        ::SendMessageA(m_hToolTip, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
    }
    ::SendMessageA(m_hToolTip, TTM_SETMAXTIPWIDTH, 0, 200);
    ::SendMessageA(m_hToolTip, TTM_ACTIVATE, TRUE, 0);
}

CImageButton::Picture CImageButton::ChoosePicture(UINT state) const
{
    if ((state & ODS_SELECTED) && m_Pictures[kPressed].Handle()) return kPressed;
    if ((state & ODS_FOCUS) && m_Pictures[kFocus].Handle()) return kFocus;
    if ((state & ODS_DISABLED) && m_Pictures[kDisabled].Handle()) return kDisabled;
    if (m_bHover) return kHover;
    return kNormal;
}

void CImageButton::DrawItem(DRAWITEMSTRUCT* item)
{
    const CBitmapPicture& picture = m_Pictures[ChoosePicture(item->itemState)];
    if (!picture.Handle()) return;
    HDC memory = CreateCompatibleDC(item->hDC);
    HGDIOBJ old = SelectObject(memory, picture.Handle());
    const RECT& r = item->rcItem;
    BitBlt(item->hDC, r.left, r.top, r.right - r.left, r.bottom - r.top, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
}

void CImageButton::RelayToToolTip(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!m_hToolTip) return;
    MSG msg{m_hWnd, message, wParam, lParam, 0, {LOWORD(lParam), HIWORD(lParam)}};
    ::SendMessageA(m_hToolTip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&msg));
}

void CImageButton::PlaySoundFile(const CString& file)
{
    // An empty name plays nothing.
    if (!file.IsEmpty()) PlaySoundA(file.c_str(), nullptr, SND_FILENAME | SND_ASYNC | SND_NODEFAULT);
}

LRESULT CImageButton::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_MOUSEMOVE:
        RelayToToolTip(message, wParam, lParam);
        if (m_bHasHover && !m_bHover) {
            m_bHover = true;
            Invalidate(FALSE);
            PlaySoundFile(m_strHoverSound);
            SetTimer(kHoverTimer, 100);
        }
        break;
    case WM_ERASEBKGND:
        return TRUE;
    case WM_LBUTTONDOWN:
        RelayToToolTip(message, wParam, lParam);
        PlaySoundFile(m_strClickSound);
        ::PostMessageA(::GetParent(m_hWnd), kButtonDownNotice, reinterpret_cast<WPARAM>(m_hWnd), 0);
        break;
    case WM_LBUTTONUP:
        RelayToToolTip(message, wParam, lParam);
        ::PostMessageA(::GetParent(m_hWnd), kButtonUpNotice, reinterpret_cast<WPARAM>(m_hWnd), 0);
        break;
    default:
        break;
    }
    return CButton::WindowProc(message, wParam, lParam);
}

void CImageButton::OnTimer(UINT_PTR id)
{
    if (id != kHoverTimer) return CButton::OnTimer(id);
    RECT r;
    GetWindowRect(&r);
    POINT cursor;
    GetCursorPos(&cursor);
    if (!PtInRect(&r, cursor)) {
        m_bHover = false;
        KillTimer(kHoverTimer);
        Invalidate(FALSE);
    }
}
