// The far end of the reader line of a Windows test program: Wine's COM5 and
// COM12 lead through a pseudo-terminal to a TCP port (run_windows_test.sh
// --serial names it in CORVANE_READER_LINE_PORT), where this object answers
// with a simulated reader, or with another serial device put in its place.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>

#include "tests/sim/card_reader_sim.h"
#include "tests/sim/serial_peer.h"

class ReaderAtLineEnd {
public:
    ReaderAtLineEnd()
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        const char* port = std::getenv("CORVANE_READER_LINE_PORT");
        if (!port) return;
        m_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<u_short>(std::atoi(port)));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(m_socket, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) return;
        m_connected = true;
        m_thread = std::thread([this] { Serve(); });
    }
    ~ReaderAtLineEnd()
    {
        closesocket(m_socket);
        if (m_thread.joinable()) m_thread.join();
        WSACleanup();
    }
    bool connected() const { return m_connected; }

    void With(const std::function<void(sim::CardReaderSim&)>& change)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        change(m_reader);
    }
    // Puts another device at the line's end (null: the reader again).
    void Use(sim::SerialPeer* peer)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_peer = peer ? peer : &m_reader;
    }
    bool Check(const std::function<bool()>& condition)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return condition();
    }
    // Bytes the device sends of its own accord.
    void Send(const sim::Bytes& bytes)
    {
        send(m_socket, reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), 0);
    }
    sim::CardReaderSim::Request Last()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_reader.requests.empty() ? sim::CardReaderSim::Request{} : m_reader.requests.back();
    }

private:
    void Serve()
    {
        char buffer[4096];
        for (;;) {
            const int n = recv(m_socket, buffer, sizeof buffer, 0);
            if (n <= 0) return;
            sim::Bytes reply;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                reply = m_peer->FromSerialLine(reinterpret_cast<const uint8_t*>(buffer), static_cast<size_t>(n));
            }
            if (!reply.empty()) send(m_socket, reinterpret_cast<const char*>(reply.data()), static_cast<int>(reply.size()), 0);
        }
    }

    SOCKET m_socket = INVALID_SOCKET;
    bool m_connected = false;
    std::mutex m_mutex;
    sim::CardReaderSim m_reader;
    sim::SerialPeer* m_peer = &m_reader;
    std::thread m_thread;
};

// Tests that share one far end of the line, made for their suite.
class WithReaderLine : public ::testing::Test {
protected:
    static void SetUpTestSuite() { line = new ReaderAtLineEnd; }
    static void TearDownTestSuite()
    {
        delete line;
        line = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(line->connected()) << "run through run_windows_test.sh --serial"; }

    static inline ReaderAtLineEnd* line = nullptr;
};
