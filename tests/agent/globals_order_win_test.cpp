// The agent's global objects as the program defines them: this program links
// the very objects of agent/globals_win.cpp that Corvane.exe links (the
// agent_globals object library), and records, from before the first of them is
// built, each construction and destruction the four objects report. They must
// be built before main in the order application, issuing-command controller,
// OBU controller, biometric-unit controller, and destroyed in the reverse
// order once main has returned; the second half is seen by running this
// program again, with no test, and reading what its recorder wrote at its end.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "agent/commands/obu_issue_ctrl.h"
#include "agent/corvane_app_win.h"
#include "biometric/biu_controller.h"
#include "framework/lifetime.h"
#include "obulink/obu_controller.h"

namespace {

// Where a second run of this program writes its record when it ends.
constexpr const char* kRecordVariable = "CORVANE_LIFETIME_RECORD";

const char* NameOf(const void* object)
{
    if (object == &g_App) return "g_App";
    if (object == &g_OBUIssueCtrl) return "g_OBUIssueCtrl";
    if (object == &g_ObuSelfIssueCtrl) return "g_ObuSelfIssueCtrl";
    if (object == &g_BIUIssueCtrl) return "g_BIUIssueCtrl";
    return "another object";
}

// Built before every other object of the program (priority 101), destroyed
// after all of them. It uses no other object, only a fixed array.
class Recorder {
public:
    Recorder() { corvane::SetLifetimeListener(&Recorder::Note); }
    ~Recorder()
    {
        corvane::SetLifetimeListener(nullptr);
        char path[MAX_PATH];
        DWORD length = GetEnvironmentVariableA(kRecordVariable, path, sizeof path);
        if (length == 0 || length >= sizeof path) return;
        HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return;
        std::string text = Text("\n");
        DWORD written = 0;
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(file);
    }

    // "built g_App<separator>built g_OBUIssueCtrl<separator>..."
    std::string Text(const char* separator) const
    {
        std::string text;
        for (int i = 0; i < m_count; ++i) {
            if (i > 0) text += separator;
            text += m_events[i].built ? "built " : "destroyed ";
            text += NameOf(m_events[i].object);
            text += " (";
            text += m_events[i].what;
            text += ")";
        }
        return text;
    }

private:
    struct Event {
        const void* object;
        const char* what;
        bool built;
    };
    static void Note(const void* object, const char* what, bool built);

    Event m_events[32] = {};
    int m_count = 0;
};

__attribute__((init_priority(101))) Recorder g_recorder;

void Recorder::Note(const void* object, const char* what, bool built)
{
    if (g_recorder.m_count < 32) g_recorder.m_events[g_recorder.m_count++] = {object, what, built};
}

// Runs this program again with no test; returns what its recorder wrote.
std::string RecordOfASecondRun()
{
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    char directory[MAX_PATH];
    GetTempPathA(sizeof directory, directory);
    char record[MAX_PATH];
    GetTempFileNameA(directory, "lif", 0, record);

    SetEnvironmentVariableA(kRecordVariable, record);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE nowhere = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = nowhere;
    startup.hStdError = nowhere;
    std::string commandLine = std::string("\"") + self + "\" --gtest_filter=NoTestRunsHere";
    PROCESS_INFORMATION process{};
    BOOL started = CreateProcessA(self, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                  &startup, &process);
    SetEnvironmentVariableA(kRecordVariable, nullptr);
    CloseHandle(nowhere);
    if (!started) return "the second run did not start";
    WaitForSingleObject(process.hProcess, 60000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    std::ifstream in(record, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    in.close();
    DeleteFileA(record);
    return text.str();
}

}  // namespace

TEST(GlobalObjects, BuiltBeforeMainInTheirOrder)
{
    EXPECT_EQ(g_recorder.Text(", "),
              "built g_App (CCorvaneApp), built g_OBUIssueCtrl (COBUIssueCtrl), "
              "built g_ObuSelfIssueCtrl (CObuSelfIssueCtrl), built g_BIUIssueCtrl (CQv_BIUIssueCtrl)");
}

TEST(GlobalObjects, DestroyedInTheReverseOrderAfterMain)
{
    EXPECT_EQ(RecordOfASecondRun(),
              "built g_App (CCorvaneApp)\n"
              "built g_OBUIssueCtrl (COBUIssueCtrl)\n"
              "built g_ObuSelfIssueCtrl (CObuSelfIssueCtrl)\n"
              "built g_BIUIssueCtrl (CQv_BIUIssueCtrl)\n"
              "destroyed g_BIUIssueCtrl (CQv_BIUIssueCtrl)\n"
              "destroyed g_ObuSelfIssueCtrl (CObuSelfIssueCtrl)\n"
              "destroyed g_OBUIssueCtrl (COBUIssueCtrl)\n"
              "destroyed g_App (CCorvaneApp)");
}
