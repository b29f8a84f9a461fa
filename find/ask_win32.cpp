// Asking many ports at once on Windows: one thread per port (CreateThread:
// MinGW-w64's win32 thread model has no std::thread), each sending the
// identification request and reading the reply exactly as the drivers do,
// through the port library's non-overlapped reads under the port's
// time-outs. The threads run side by side, so the whole takes about one
// time-out however many ports are silent.

#include <windows.h>

#include <vector>

#include "device/protocol.hpp"
#include "find/host.hpp"
#include "serial/comm_device_win32.hpp"

namespace vardel::find {

namespace {

// Each thread needs little stack: a reply and a few calls.
constexpr SIZE_T THREAD_STACK = 256 * 1024;

// Whether the port has gone (after a reply that didn't end): an unplugged
// adapter's handle fails every call.
bool portHasGone(const SerialLink& link) {
    DWORD errors = 0;
    COMSTAT status{};
    return ClearCommError(portHandle(link), &errors, &status) == 0;
}

void ask(Question& question) {
    SerialLink& link = question.link;
    writeText(link, identificationRequest());
    const ReplySource source{
        [&link] { return bytesWaiting(link); },
        [&link](char& byte) { return readOneByte(link, byte); },
        [&link](std::uint32_t milliseconds) { waitForInput(link, milliseconds); },
        [] { return tickCount(); },
    };
    question.reply = collectReplyWithEnd(source, link.timeoutMs);
    if (question.reply.timedOut) question.hungUp = portHasGone(link);
}

DWORD WINAPI askInThread(LPVOID parameter) {
    Question& question = *static_cast<Question*>(parameter);
    try {
        ask(question);
    } catch (...) {
        // Nothing may leave a thread's function; no reply is what remains.
        question.reply = CollectedReply{std::string(), true, std::string()};
        question.hungUp = true;
    }
    return 0;
}

}  // namespace

void askAll(const std::vector<Question*>& questions) {
    std::vector<HANDLE> threads;
    for (Question* question : questions) {
        const HANDLE thread =
            CreateThread(nullptr, THREAD_STACK, askInThread, question, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
        if (thread != nullptr) {
            threads.push_back(thread);
        } else {
            // No thread to be had: this port is asked here, after the others began.
            askInThread(question);
        }
    }
    // Each thread ends within its port's time-outs (the read's and the
    // write's), so waiting for them in turn ends too.
    for (const HANDLE thread : threads) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
}

}  // namespace vardel::find
