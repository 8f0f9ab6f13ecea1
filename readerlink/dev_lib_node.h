// The node-addressed protocols: type 0 (CDevLibNode, 500 ms reply window),
// type 7 (CDevLibNodeLong, the same frames, 2000 ms) and type 1 (CDevLibListen,
// the two-wire bus with RTS-switched half duplex and a listener thread that
// echoes every good frame addressed to node 0).
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "readerlink/dev_lib.h"

namespace tarnlink {

class CDevLibNode : public CDevLib {
public:
    static constexpr uint32_t kReplyLimitMs = 500;

    using CDevLib::CDevLib;
    // Drop queued input, write the frame, receive the reply of the node.
    int SendFrame(int node) override;
    // Frames the request (at most 254 bytes) for the node and sends it: the
    // reply's data count, or an error.
    int Exchange(int node) override;
    int OpenPort() override { return OpenSerialPort(); }
    int Receive(int node);

protected:
    virtual uint32_t ReplyLimitMs() const { return kReplyLimitMs; }
    virtual bool ClearsFrame() const { return false; }
};

class CDevLibNodeLong : public CDevLibNode {
public:
    static constexpr uint32_t kReplyLimitMs = 2000;
    using CDevLibNode::CDevLibNode;

protected:
    uint32_t ReplyLimitMs() const override { return kReplyLimitMs; }
    bool ClearsFrame() const override { return true; }
};

class CDevLibListen : public CDevLib {
public:
    static constexpr uint32_t kReplyLimitMs = 300;
    static constexpr uint32_t kListenLimitMs = 150;  // a frame heard by the listener
    static constexpr uint32_t kTurnaroundMs = 100;   // after sending, before the reply
    static constexpr uint32_t kListenWaitMs = 50;    // the listener looks at its stop flag this often

    using CDevLib::CDevLib;
    // Stops and joins the listener first.
    ~CDevLibListen() override;

    int SendFrame(int node) override;
    int Exchange(int node) override;
    int OpenPort() override { return OpenSerialPort(); }
    // Stops the listener, then closes.
    int ClosePort() override;
    // Opens the port for receive events and starts the listener: the port
    // number; 0 when the thread could not start; -1 when the port could not be
    // opened. A port that listens already is left as it is (its number).
    int OpenListen() override;
    int Receive(int node);

    // As DebugText, to the listener's test window.
    void TestText(const char* text);
    // Receives one frame (150 ms); a good one addressed to `node` is written
    // back whole and gives 0, else the error and nothing written.
    int ReceiveAndEcho(uint8_t node);

    bool IsListening() const { return m_thread.joinable(); }
    // Frames the listener has echoed since the port was opened for listening.
    int EchoedFrames() const { return m_echoed; }
    void StopListener();

    // The library is being unloaded (stop without joining) or the process ends
    // (the threads are already gone).
    enum class Unload { None, Library, Process };
    static void SetUnload(Unload unload) { s_unload = unload; }

private:
    void ListenThread();
    std::thread m_thread;
    std::atomic<bool> m_run{false};
    std::atomic<bool> m_inLoop{false};
    std::atomic<int> m_echoed{0};
    static std::atomic<Unload> s_unload;
};

}  // namespace tarnlink
