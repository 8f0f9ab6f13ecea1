// Ids 31 to 40 through the real command server: a JSONP request on a loopback
// socket, the command table, the OBU controller and the HID device records,
// with the OBU simulator behind the HID seam.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <string>

#include "agent/commands/obu_issue_ctrl.h"
#include "agent/server/http_server_win.h"
#include "tests/agent/obu_command_fixture.h"
#include "tests/sim/reference_aes.h"

using namespace obu_commands_test;

COBUIssueCtrl g_OBUIssueCtrl;

namespace {

struct Winsock {
    Winsock() { WSADATA d; WSAStartup(MAKEWORD(2, 2), &d); }
    ~Winsock() { WSACleanup(); }
};
Winsock g_winsock;

// One request on a fresh connection; the JSONP body of the answer.
std::string Request(int port, int id, const std::string& param = std::string(), bool withParam = true)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    DWORD timeout = 20000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<u_short>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        closesocket(s);
        return "no connection";
    }
    std::string query = "callback=cb&id=" + std::to_string(id);
    if (withParam) query += "&param=" + param;
    const std::string request = "GET /Corvane.html?" + query + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    send(s, request.data(), static_cast<int>(request.size()), 0);
    std::string answer;
    char buffer[4096];
    for (int n; (n = recv(s, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, static_cast<size_t>(n));
    closesocket(s);
    const size_t body = answer.find("\r\n\r\n");
    return body == std::string::npos ? answer : answer.substr(body + 4);
}

std::string Jsonp(const std::string& result)
{
    return "cb({\"result\":\"" + result + "\"})";
}

std::string ReferenceScode(const std::string& mfsn, const std::string& keyText)
{
    uint8_t block[16] = {};
    for (int i = 0; i < 8; ++i) block[i] = static_cast<uint8_t>(std::stoi(mfsn.substr(2 * i, 2), nullptr, 16));
    uint8_t out[16];
    ReferenceAes(reinterpret_cast<const uint8_t*>(keyText.data()), 16).EncryptBlock(block, out);
    char text[17];
    for (int i = 0; i < 8; ++i) std::snprintf(text + 2 * i, 3, "%02X", out[i]);
    return text;
}

class ObuCommandsOverHttp : public ObuCommands {
protected:
    void SetUp() override
    {
        ObuCommands::SetUp();
        ASSERT_EQ(server.Run(0, 200), 1);
    }
    void TearDown() override
    {
        server.Stop();
        ObuCommands::TearDown();
    }
    std::string Ask(int id, const std::string& param = std::string(), bool withParam = true)
    {
        return Request(server.BoundPort(), id, param, withParam);
    }

    CHTTPServer server{[](int id, const CString& param, CString& result) {
        return g_OBUIssueCtrl.RunCommand(id, param, result);
    }};
};

}  // namespace

TEST_F(ObuCommandsOverHttp, NoObuAttached)
{
    EXPECT_EQ(Ask(31), Jsonp("0:0"));
    EXPECT_EQ(Ask(32, kProductText), Jsonp("0:"));
    EXPECT_EQ(Ask(33), Jsonp("0:0"));
    EXPECT_EQ(Ask(34), Jsonp("0:0"));
    EXPECT_EQ(Ask(35, ObuFields().Text()), Jsonp("0:0"));
    ObuFields change;
    change.flags = "10101";
    EXPECT_EQ(Ask(36, change.Text()), Jsonp("0:0"));
    EXPECT_EQ(Ask(37, ObuFields().Text()), Jsonp("0:0"));
    EXPECT_EQ(Ask(39), Jsonp("0"));
    EXPECT_EQ(Ask(40), Jsonp("1"));
    const std::string mfsn = "0123456789ABCDEF", keyText = "Issue-Key-2026!!";
    EXPECT_EQ(Ask(38, mfsn + "_" + keyText), Jsonp("0:" + ReferenceScode(mfsn, keyText)));
}

TEST_F(ObuCommandsOverHttp, WholeIssueOfAnObu)
{
    Attach();
    EXPECT_EQ(Ask(32, kProductText), Jsonp("2:"));
    EXPECT_EQ(Ask(31), Jsonp("2:123456789ABCDEF0"));
    const std::string mfsn = "123456789ABCDEF0", keyText = "Issue-Key-2026!!";
    EXPECT_EQ(Ask(38, mfsn + "_" + keyText), Jsonp("2:" + ReferenceScode(mfsn, keyText)));
    EXPECT_EQ(Ask(38, "123456789abcdef0_" + keyText), Jsonp("2:MFSN Error"));

    ObuFields f;
    f.field7 = "a5";
    EXPECT_EQ(Ask(35, f.Text()), Jsonp("2:" + f.InformationText('1')));
    EXPECT_EQ(obu.Record(), f.Record(0x01, 0xF8)) << "a lower-case high digit of field 7 gives its hexadecimal value";
    EXPECT_EQ(Ask(34), Jsonp("2:" + f.InformationText('1')));

    ObuFields change = f;
    change.field2 = "1111111111111111";
    change.field4 = "20270101";
    change.flags = "01010";
    ObuFields expected = f;
    expected.field2 = change.field2;
    expected.field4 = change.field4;
    EXPECT_EQ(Ask(36, change.Text()), Jsonp("2:" + expected.InformationText('3')));
    const auto commands = obu.Observed().messages;
    EXPECT_EQ(commands.back()[33], 0x50);

    change.flags = "10101";
    Ask(36, change.Text());
    EXPECT_EQ(obu.Observed().messages.back()[33], 0xA8);

    EXPECT_EQ(Ask(37, f.Text()), Jsonp("2:" + f.InformationText('4')));
    EXPECT_EQ(Ask(33), Jsonp("2:"));
    EXPECT_EQ(Ask(34), Jsonp("2:0_0000000000000000_0000000000000000_0000000000_00000000_00000000_0_00"));
    EXPECT_EQ(Ask(39), Jsonp("2"));
    EXPECT_EQ(Ask(40), Jsonp("2"));
    EXPECT_EQ(Ask(40), Jsonp("1"));
}

TEST_F(ObuCommandsOverHttp, StatusClassesAndRefusals)
{
    Attach();
    ASSERT_EQ(Ask(32, kProductText), Jsonp("2:"));
    obu.status = 0x01;
    EXPECT_EQ(Ask(34), Jsonp("2:1"));
    obu.status = 0x02;
    EXPECT_EQ(Ask(33), Jsonp("2:2"));
    obu.status = 0;
    obu.answerCommand = false;
    EXPECT_EQ(Ask(34), Jsonp("2:0"));
    obu.answerCommand = true;
    obu.mfsnStatus = 0x31;
    EXPECT_EQ(Ask(31), Jsonp("2:1"));

    // Short or malformed texts: refused, nothing reaches the OBU.
    const size_t before = sim.Written(0).size();
    EXPECT_EQ(Ask(35, ObuFields().Text().substr(0, 60)), Jsonp("2:1"));
    EXPECT_EQ(Ask(36, ObuFields().Text()), Jsonp("2:1")) << "no change flags";
    EXPECT_EQ(Ask(37, "", false), Jsonp("2:1"));
    EXPECT_EQ(Ask(38, "1234"), Jsonp("2:MFSN Error"));
    EXPECT_EQ(Ask(32, "4b1e00c35a10203040506070809"), Jsonp("2:1"));
    EXPECT_EQ(sim.Written(0).size(), before);

    // A wrong product key: the handshake is refused and nothing else is sent.
    EXPECT_EQ(Ask(32, "4b1e00c35a102030405060708090a0b1"), Jsonp("2:"));
    const int commands = obu.Observed().commands;
    EXPECT_EQ(Ask(35, ObuFields().Text()), Jsonp("2:2"));
    EXPECT_EQ(sim.Written(0).size(), before + 1);
    EXPECT_EQ(obu.Observed().commands, commands);
}
