#include "console.h"

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace console {

void Prepare() {
    std::signal(SIGPIPE, SIG_IGN);
}

bool OutputIsTerminal() {
    return ::isatty(STDOUT_FILENO);
}

size_t Width() {
    struct winsize ws;
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0)
        return ws.ws_col;
    return 80;
}

void Write(const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // a closed pipe: the output is not wanted any more
        done += static_cast<size_t>(n);
    }
}

Waiter::Waiter() = default;

Waiter::~Waiter() {
    for (int fd : {m_wake[0], m_wake[1], m_stop})
        if (fd >= 0)
            ::close(fd);
}

bool Waiter::Open() {
    // The stop signals are taken from a descriptor by the main thread alone: blocked here,
    // before the first job thread, they stay blocked in every thread made afterwards.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    m_stop = ::signalfd(-1, &stop, SFD_CLOEXEC | SFD_NONBLOCK);
    if (m_stop < 0)
        return false;
    if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        m_wake[0] = m_wake[1] = -1;
        return false;
    }
    return true;
}

void Waiter::Wake() {
    const char byte = 1;
    // A full pipe already holds a wake-up; losing this byte loses nothing.
    if (::write(m_wake[1], &byte, 1) < 0) {
    }
}

Woke Waiter::Wait(int timeoutMs) {
    struct pollfd fds[2] = {{m_wake[0], POLLIN, 0}, {m_stop, POLLIN, 0}};
    const int n = ::poll(fds, 2, timeoutMs);
    if (n < 0 && errno != EINTR)
        return Woke::Failed;
    if (fds[1].revents & POLLIN)
        return Woke::Stop;
    char buffer[256];
    while (::read(m_wake[0], buffer, sizeof buffer) > 0) {
    }
    return n > 0 ? Woke::Wake : Woke::Timeout;
}

} // namespace console
