// The terminal side of quorvane-get that differs between systems: writing to standard
// output, the terminal's width, the user's stop request (Ctrl-C, a termination signal) and
// waking the main thread when a job posted something.
#pragma once

#include <cstddef>
#include <string>

namespace console {

// Called first in main(): a closed output pipe must end writes, not the process.
void Prepare();
// True when standard output is a terminal, which gets the live display.
bool OutputIsTerminal();
// Columns of the terminal; 80 when it cannot be told.
size_t Width();
// Writes all of text to standard output; a closed pipe drops the rest.
void Write(const std::string& text);

enum class Woke { Wake, Stop, Timeout, Failed };

// Where the main thread sleeps. Open it before any other thread starts: the stop request
// is then taken by the main thread alone.
class Waiter {
public:
    Waiter();
    ~Waiter();
    Waiter(const Waiter&) = delete;
    Waiter& operator=(const Waiter&) = delete;

    // False with errno set when the system refused.
    bool Open();
    // From any thread: the main thread's Wait returns. A wake-up already pending is enough.
    void Wake();
    // Sleeps until Wake, a stop request or timeoutMs (-1: no limit). Wake-ups that came
    // meanwhile are used up.
    Woke Wait(int timeoutMs);

private:
    int m_wake[2] = {-1, -1};
    int m_stop = -1;
    void* m_event = nullptr;
};

} // namespace console
