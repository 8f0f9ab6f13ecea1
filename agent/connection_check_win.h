// The test panel's connection check: a worker thread that fetches a test page
// of the local web application (port 8080) every 15 s and says so in a message
// box when the server cannot be reached.
#pragma once

#include <atomic>
#include <memory>
#include <cstdint>
#include <string>

#include "framework/internet_session_win.h"

namespace corvane::panel {

// The test page of the local web application.
constexpr const char* kServerTestUrl = "http://127.0.0.1:8080/IssueSystem/ServerTest.html";
constexpr uint32_t kServerTestPeriodMs = 15000;
constexpr UINT kServerTestReadBufferSize = 512;
// Shown from the worker thread when the page cannot be fetched.
constexpr const char* kServerUnreachableText = "서버에 접속할 수 없습니다.";

struct ServerTestSettings {
    std::string url = kServerTestUrl;
    uint32_t periodMs = kServerTestPeriodMs;
    // The product's check runs until the process ends; a test may stop it
    // (it ends after the round it is in).
    std::shared_ptr<std::atomic<bool>> stop;
};

// One round: opens the page, reads it line by line to its end and drops the
// lines. Raises CInternetException when the server cannot be reached.
void FetchServerTestPage(CInternetSession& session, const std::string& url);

// Rounds forever (or until the stop flag): fetch, the message box on failure,
// pause `periodMs`.
void ServerConnectionTest(const ServerTestSettings& settings);

// Starts ServerConnectionTest on a worker thread of its own; each call starts
// another.
void StartServerTestThread(const ServerTestSettings& settings);

}  // namespace corvane::panel
