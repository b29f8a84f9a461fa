#pragma once
// GoogleTest's Notification on a Windows event, for MinGW-w64's win32
// thread model, whose GCC 12 has no std::mutex or std::condition_variable.
// cmake/target-googletest.cmake includes it before GoogleTest's headers.

#include <windows.h>

namespace testing::internal {

class Notification {
public:
    Notification() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification() { CloseHandle(event_); }
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify() { SetEvent(event_); }
    void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

private:
    HANDLE event_;
};

}  // namespace testing::internal
