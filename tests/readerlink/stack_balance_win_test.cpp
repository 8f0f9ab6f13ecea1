// Every export of the 32-bit Tarnlink.dll, found by its exported name and called
// through the stdcall probe with the arguments of its declaration in
// tarnlink.h, returns with the stack pointer where it was before the arguments
// were pushed and with ebx, esi, edi and ebp as the caller had them. A program
// that loads the library by name relies on exactly that: a callee that pops the
// wrong byte count or clobbers a callee-saved register corrupts its caller.
// The same probe with one argument too many shows the difference, so the check
// can fail.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "readerlink/tarnlink.h"
#include "tests/readerlink/reader_line_end_win.h"
#include "tests/readerlink/stdcall_probe_i386.h"

namespace {

HMODULE Library()
{
    static HMODULE module = LoadLibraryA("Tarnlink.dll");
    return module;
}

// Zeroed buffers for the pointer arguments, one per argument of a call.
class ArgumentBuffers {
public:
    void* Next()
    {
        m_buffers.emplace_back(4096, 0);
        return m_buffers.back().data();
    }

private:
    std::vector<std::vector<uint8_t>> m_buffers;
};

// One argument word from its declared type: the port first, a buffer for each
// pointer, 2 for every other number (a short length, count or wait) but 0x20
// for a byte (no byte a reader takes for the start of a frame).
template <typename T>
uint32_t ArgumentWord(int index, uint32_t port, ArgumentBuffers& buffers)
{
    if constexpr (std::is_pointer_v<T>)
        return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(buffers.Next()));
    else if (index == 0)
        return port;
    else
        return sizeof(T) == 1 ? 0x20u : 2u;
}

template <typename Function>
struct Declaration;

template <typename Result, typename... Parameters>
struct Declaration<Result TARNLINK_CALL(Parameters...)> {
    static constexpr int kCount = sizeof...(Parameters);
    static std::vector<uint32_t> Arguments(uint32_t port, ArgumentBuffers& buffers)
    {
        std::vector<uint32_t> words;
        int index = 0;
        (words.push_back(ArgumentWord<Parameters>(index++, port, buffers)), ...);
        return words;
    }
};

struct Export {
    const char* name;  // as exported
    int argumentCount;  // of its declaration
    std::vector<uint32_t> (*arguments)(uint32_t port, ArgumentBuffers& buffers);
    bool readerCommand;  // speaks the reader protocol on a port of TARN_InitPort
};

#define READER(function) Export{#function, Declaration<decltype(function)>::kCount, \
                                &Declaration<decltype(function)>::Arguments, true}
#define OLDER(name, function) Export{name, Declaration<decltype(function)>::kCount, \
                                     &Declaration<decltype(function)>::Arguments, false}

const std::vector<Export>& Exports()
{
    static const std::vector<Export> exports = {
        READER(TARN_InitPort), READER(TARN_ClosePort), READER(TARN_IC_PowerOn), READER(TARN_IC_Case1),
        READER(TARN_IC_Case2), READER(TARN_IC_Case3), READER(TARN_ABM_Transparent), READER(TARN_AM_Transparent),
        READER(TARN_AM_TransparentCRC), READER(TARN_BM_Transparent), READER(TARN_BM_TransparentCRC),
        READER(TARN_BM_Transparent_Test), READER(TARN_BM_Transparent_Set), READER(TARN_ABM_RF_On),
        READER(TARN_ABM_RF_Off), READER(TARN_ABM_RF_Reset), READER(TARN_ABM_BuzzerON), READER(TARN_ABM_BuzzerOFF),
        READER(TARN_ABM_RF_Version), READER(TARN_AM_Reset), READER(TARN_AM_Idle_Req), READER(TARN_AM_Wakeup_Req),
        READER(TARN_AM_Anticoll), READER(TARN_AM_Select), READER(TARN_AM_Auth), READER(TARN_AM_Halt),
        READER(TARN_AM_Read), READER(TARN_AM_Write), READER(TARN_AM_Increment), READER(TARN_AM_Decrement),
        READER(TARN_AM_Inc_Transfer), READER(TARN_AM_Dec_Transfer), READER(TARN_AM_Restore),
        READER(TARN_AM_Transfer), READER(TARN_AM_Loadkey), READER(TARN_AM_Authkey), READER(TARN_AM_Req_Auth),
        READER(TARN_AM_Req_Authkey), READER(TARN_AM_Inc_Transfer2), READER(TARN_AM_Dec_Transfer2),
        READER(TARN_AM_Req_Read), READER(TARN_AM_Req_Readkey), READER(TARN_AM_Read_Credit),
        READER(TARN_AM_Read_Royalty), READER(TARN_AM_Device_Info), READER(TARN_AM_WriteE2), READER(TARN_AM_ReadE2),
        OLDER("InitPort", InitPort), OLDER("ClosePort", ClosePort), OLDER("TARN_Polling", TARN_Polling),
        OLDER("PollingTarn", PollingTarn), OLDER("_ListenPollTarn@28", ListenPollTarn),
        OLDER("_listPollingTarn@20", listPollingTarn), OLDER("_TARN200LIB_STD_Write@28", TARN200LIB_STD_Write),
        OLDER("_TARN200LIB_Polling@20", TARN200LIB_Polling), OLDER("_TARN_SendData2Modem@20", TARN_SendData2Modem),
        OLDER("_TARN_ModemCommand@20", TARN_ModemCommand), OLDER("_TARN_ListenModemENQ@12", TARN_ListenModemENQ),
    };
    return exports;
}

// The names in the library's export directory.
std::set<std::string> ExportedNames(HMODULE module)
{
    auto* base = reinterpret_cast<const uint8_t*>(module);
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    auto* directory = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
    auto* names = reinterpret_cast<const DWORD*>(base + directory->AddressOfNames);
    std::set<std::string> result;
    for (DWORD i = 0; i < directory->NumberOfNames; ++i)
        result.insert(reinterpret_cast<const char*>(base + names[i]));
    return result;
}

// Values the callee must hand back in its callee-saved registers.
constexpr uint32_t kEbx = 0x1B2B3B4B, kEsi = 0x51525354, kEdi = 0xD1D2D3D4, kEbp = 0xB5B6B7B8;

// What the call left different from what it found: empty when nothing.
std::string CallLeavesStackAndRegisters(const Export& entry, uint32_t port, int extraArguments, int* result = nullptr)
{
    const void* address = reinterpret_cast<const void*>(GetProcAddress(Library(), entry.name));
    if (!address) return "not exported";
    ArgumentBuffers buffers;
    std::vector<uint32_t> words = entry.arguments(port, buffers);
    if (entry.readerCommand && std::strcmp(entry.name, "TARN_InitPort") == 0) words[1] = 9600;  // a real baud rate
    for (int i = 0; i < extraArguments; ++i) words.push_back(0x0E0E0E0E);

    StdcallProbeState state{};
    state.ebx = kEbx;
    state.esi = kEsi;
    state.edi = kEdi;
    state.ebp = kEbp;
    const int value = StdcallProbeCall(address, words.data(), static_cast<int>(words.size()), &state);
    if (result) *result = value;

    std::string differences;
    const auto note = [&differences](const char* what, uint32_t expected, uint32_t found) {
        if (expected == found) return;
        char line[96];
        std::snprintf(line, sizeof line, "%s %08X instead of %08X; ", what, static_cast<unsigned>(found),
                      static_cast<unsigned>(expected));
        differences += line;
    };
    note("esp", state.espBefore, state.espAfter);
    note("ebx", kEbx, state.ebx);
    note("esi", kEsi, state.esi);
    note("edi", kEdi, state.edi);
    note("ebp", kEbp, state.ebp);
    return differences;
}

constexpr uint32_t kNoPort = 33;   // never initialised
constexpr uint32_t kLinePort = 5;  // Wine's COM5, the simulated reader at its far end

// The entries that make a port record (even for a port that cannot open) get
// ports of their own, so that kNoPort keeps having none.
uint32_t PortWithoutRecord(const Export& entry)
{
    static const char* const makers[] = {"TARN_InitPort", "InitPort", "_ListenPollTarn@28"};
    for (uint32_t i = 0; i < 3; ++i)
        if (std::strcmp(entry.name, makers[i]) == 0) return 78 + i;
    return kNoPort;
}

}  // namespace

TEST(StackBalance, EveryExportIsCoveredWithItsDeclaredArgumentBytes)
{
    ASSERT_NE(Library(), nullptr);
    std::set<std::string> listed;
    for (const Export& entry : Exports()) {
        listed.insert(entry.name);
        // A decorated export name carries its argument bytes: they agree with the declaration.
        const char* at = std::strrchr(entry.name, '@');
        if (at) {
            EXPECT_EQ(std::atoi(at + 1), 4 * entry.argumentCount) << entry.name;
        }
    }
    EXPECT_EQ(listed.size(), 58u);
    EXPECT_EQ(listed, ExportedNames(Library()));
}

TEST(StackBalance, EveryExportWithoutAPortRecordLeavesStackAndRegistersAsTheyWere)
{
    ASSERT_NE(Library(), nullptr);
    for (const Export& entry : Exports())
        EXPECT_EQ(CallLeavesStackAndRegisters(entry, PortWithoutRecord(entry), 0), "") << entry.name;
}

TEST(StackBalance, OneArgumentTooManyShowsAsAStackDifference)
{
    ASSERT_NE(Library(), nullptr);
    for (const Export& entry : Exports()) {
        const std::string differences = CallLeavesStackAndRegisters(entry, PortWithoutRecord(entry), 1);
        EXPECT_EQ(differences.rfind("esp ", 0), 0u) << entry.name << ": " << differences;
        EXPECT_EQ(differences.find("eb"), std::string::npos) << entry.name << ": " << differences;
    }
}

// The reader commands again on a port that a reader answers, so that each runs
// its whole exchange (frame, serial I/O, reply) between the probe's checks.
TEST(StackBalance, EveryReaderCommandOnAnAnsweringReaderLeavesStackAndRegistersAsTheyWere)
{
    ASSERT_NE(Library(), nullptr);
    ReaderAtLineEnd line;
    ASSERT_TRUE(line.connected()) << "run through run_windows_test.sh --serial";

    const Export* open = nullptr;
    const Export* close = nullptr;
    for (const Export& entry : Exports()) {
        if (std::strcmp(entry.name, "TARN_InitPort") == 0) open = &entry;
        if (std::strcmp(entry.name, "TARN_ClosePort") == 0) close = &entry;
    }
    int opened = 0;
    ASSERT_EQ(CallLeavesStackAndRegisters(*open, kLinePort, 0, &opened), "");
    ASSERT_EQ(opened, static_cast<int>(kLinePort));

    const auto requestsSeen = [&line] {
        size_t count = 0;
        line.With([&count](sim::CardReaderSim& reader) { count = reader.requests.size(); });
        return count;
    };
    size_t called = 0;
    for (const Export& entry : Exports()) {
        if (!entry.readerCommand || &entry == open || &entry == close) continue;
        const size_t before = requestsSeen();
        EXPECT_EQ(CallLeavesStackAndRegisters(entry, kLinePort, 0), "") << entry.name;
        EXPECT_GT(requestsSeen(), before) << entry.name << " reached no reader";
        ++called;
    }
    EXPECT_EQ(called, 45u);
    int closed = 0;
    EXPECT_EQ(CallLeavesStackAndRegisters(*close, kLinePort, 0, &closed), "");
    EXPECT_EQ(closed, 1);
}
