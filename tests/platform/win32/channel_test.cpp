// The channel between copies on Windows, through the platform interface: a
// later copy's message reaches the running one, nothing else does, and a
// peer that misbehaves does not stop it from hearing the next one.
#include <windows.h>

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/InstanceChannel.h"
#include "tests/support/Wait.h"

namespace {

using kivo::platform::ListenToLaterCopies;
using kivo::platform::SendToRunningCopy;
using kivo::test::WaitUntil;
using namespace std::chrono_literals;

class Heard {
public:
    std::function<void(const std::string&)> Receiver() {
        return [this](const std::string& message) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_messages.push_back(message);
        };
    }
    std::vector<std::string> Messages() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_messages;
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_messages;
};

// A peer that writes `bytes` on the pipe and goes, as a broken copy might.
void WriteRaw(const char* name, const std::string& bytes) {
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    const std::string pipe = std::string("\\\\.\\pipe\\") + name + "-" + std::to_string(session);
    HANDLE handle = INVALID_HANDLE_VALUE;
    // The channel hears one peer at a time: wait while it hears the last.
    for (int attempt = 0; attempt < 50 && handle == INVALID_HANDLE_VALUE; ++attempt) {
        handle = CreateFileA(pipe.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE) WaitNamedPipeA(pipe.c_str(), 100);
    }
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(handle);
}

TEST(InstanceChannel, LaterCopiesAreHeardInTurnAndOnlyByTheFirstListener) {
    Heard heard;
    auto channel = ListenToLaterCopies("kivo-test-a", heard.Receiver());
    ASSERT_NE(channel, nullptr);
    EXPECT_EQ(ListenToLaterCopies("kivo-test-a", [](const std::string&) {}), nullptr);

    for (const char* message : {"show", "settings", "about", "exit"})
        EXPECT_TRUE(SendToRunningCopy("kivo-test-a", message));
    EXPECT_TRUE(WaitUntil([&] { return heard.Messages().size() == 4; }, 5000ms));
    EXPECT_EQ(heard.Messages(), (std::vector<std::string>{"show", "settings", "about", "exit"}));

    channel.reset();
    EXPECT_FALSE(SendToRunningCopy("kivo-test-a", "show"));
}

TEST(InstanceChannel, WhatIsNotOneShortPrintableLineIsNeitherSentNorHeard) {
    Heard heard;
    auto channel = ListenToLaterCopies("kivo-test-b", heard.Receiver());
    ASSERT_NE(channel, nullptr);
    for (const std::string& message : {std::string(), std::string("two words"), std::string(64, 'x'),
                                       std::string("line\nbreak"), std::string("\xc4\xcf")})
        EXPECT_FALSE(SendToRunningCopy("kivo-test-b", message)) << message;

    WriteRaw("kivo-test-b", "no end of line");
    WriteRaw("kivo-test-b", std::string(200, 'y') + "\n");
    WriteRaw("kivo-test-b", "tab\there\n");
    EXPECT_TRUE(SendToRunningCopy("kivo-test-b", std::string(63, 'z')));
    EXPECT_TRUE(WaitUntil([&] { return !heard.Messages().empty(); }, 5000ms));
    Sleep(300);
    EXPECT_EQ(heard.Messages(), std::vector<std::string>{std::string(63, 'z')});
}

TEST(InstanceChannel, NothingListensWithoutARunningCopy) { EXPECT_FALSE(SendToRunningCopy("kivo-test-c", "show")); }

}  // namespace
