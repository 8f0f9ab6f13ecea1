// Message boxes. Every message box of the program goes through ShowMessageBox, so
// that a test can watch them and answer them in place of the operator (a message
// box may come from any thread: a command's worker, a screen's reader thread).
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace corvane {

struct MessageBoxRequest {
    HWND owner;
    std::string text;      // bytes in the ANSI code page
    std::string caption;
    UINT type;             // MB_ flags
    DWORD threadId;        // the thread that asked
};

// Answers a box (IDOK, IDYES, ...) without showing it.
using MessageBoxHook = std::function<int(const MessageBoxRequest&)>;

// Installs `hook` for every later message box of the process (an empty hook
// shows real boxes again); returns the previous one.
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

// Shows the box (MessageBoxA) or hands it to the hook; returns the answer.
int ShowMessageBox(HWND owner, const char* text, const char* caption, UINT type);

}  // namespace corvane

// A box over the application's main window with the application's name as
// caption; `stringId` names a string resource.
int AfxMessageBox(const char* text, UINT type = MB_OK, UINT helpId = 0);
int AfxMessageBox(UINT stringId, UINT type = MB_OK, UINT helpId = 0);
