#include "console.h"

#include <atomic>
#include <cerrno>
#include <io.h>
#include <windows.h>

namespace console {

namespace {
std::atomic<bool> g_stop{false};
HANDLE g_stopEvent = nullptr;

// Runs on a thread of its own that the system starts for Ctrl-C, Ctrl-Break or a closed
// console window; the main thread does the stopping.
BOOL WINAPI OnControl(DWORD) {
    g_stop = true;
    if (g_stopEvent)
        SetEvent(g_stopEvent);
    return TRUE;
}
} // namespace

void Prepare() {
    // Escape sequences of the live display, as on other terminals (Windows 10 and later).
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(out, &mode))
        SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

bool OutputIsTerminal() {
    // _isatty is true for NUL as well; a console has a console mode.
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

size_t Width() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info) &&
        info.srWindow.Right >= info.srWindow.Left)
        return size_t(info.srWindow.Right - info.srWindow.Left + 1);
    return 80;
}

void Write(const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const int n = _write(1, text.data() + done, unsigned(text.size() - done));
        if (n <= 0)
            return; // a closed pipe: the output is not wanted any more
        done += static_cast<size_t>(n);
    }
}

Waiter::Waiter() = default;

Waiter::~Waiter() {
    SetConsoleCtrlHandler(OnControl, FALSE);
    if (m_event)
        CloseHandle(static_cast<HANDLE>(m_event));
}

bool Waiter::Open() {
    // One auto-reset event for both: a stop also sets the flag that Wait looks at.
    m_event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    g_stopEvent = static_cast<HANDLE>(m_event);
    if (m_event && SetConsoleCtrlHandler(OnControl, TRUE))
        return true;
    errno = EIO;
    return false;
}

void Waiter::Wake() {
    SetEvent(static_cast<HANDLE>(m_event));
}

Woke Waiter::Wait(int timeoutMs) {
    const DWORD r = WaitForSingleObject(static_cast<HANDLE>(m_event),
                                        timeoutMs < 0 ? INFINITE : DWORD(timeoutMs));
    if (g_stop)
        return Woke::Stop;
    if (r == WAIT_FAILED)
        return Woke::Failed;
    return r == WAIT_OBJECT_0 ? Woke::Wake : Woke::Timeout;
}

} // namespace console
