// Pacing of the requests to the EPO's services, one pacer for the whole process: every
// job's request to a service waits here for its turn, so that all jobs together stay
// within what the service allows per rolling minute and honour its requests to wait.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

enum class OpsService { Images = 0, Retrieval = 1 };

enum class OpsLight { None = 0, Green, Yellow, Red, Black };

// What one X-Throttling-Control header says about one service.
struct OpsServiceReading {
    OpsLight light = OpsLight::None; // None: the service was not named
    long allowance = 0;              // requests per rolling minute; 0 when not given
};
struct OpsThrottleReading {
    std::string system; // "idle", "busy", "overloaded"; the worst when doubled
    OpsServiceReading images, retrieval;
};

// Reads "busy (images=green:100, retrieval=yellow:200, ...)". A header repeated and joined
// with commas is read as a whole: for each service the most restrictive value. False when
// neither service is named.
bool ParseThrottlingControl(const std::string& header, OpsThrottleReading& out);

// Retry-After of a black light, in milliseconds; missing or unreadable gives the default.
long long ParseRetryAfterMs(const std::string& header);

// The bytes of the week's quota the service reported last (any job, any key), -1 before any
// answer: what the program shows as "EPO: 1.2 GB of 4 GB this week".
long long OpsWeekQuotaUsedBytes();
// The free tier's weekly allowance, for that display.
constexpr long long kOpsWeekQuotaBytes = 4LL * 1000 * 1000 * 1000;

class opsPacer {
public:
    using Clock = std::chrono::steady_clock;

    static opsPacer& Instance();

    // How long a request to the service must wait before it may go (0: it goes now, and is
    // counted as sent). Callers sleep (in slices, so that they can be cancelled) and ask
    // again. suspended, if given, tells whether the wait is one the service asked for.
    std::chrono::milliseconds Turn(OpsService service, bool* suspended = nullptr);
    // What an answer said: its X-Throttling-Control value ("" when missing), about every
    // service it names.
    void Observe(const std::string& throttlingHeader);
    // A black light: no request to the service before the time has passed.
    void Suspend(OpsService service, std::chrono::milliseconds wait);
    // The last X-RegisteredQuotaPerWeek-Used seen (bytes); -1 before any.
    void NoteWeekUsed(const std::string& header);
    long long WeekUsedBytes() const;

    // The allowance followed now (requests per minute), after slowing down for the light.
    double Allowance(OpsService service);

    // Forgets everything (tests).
    void Reset();

    // The share of the allowance used on each light.
    static constexpr double kGreenShare = 0.97;
    static constexpr double kYellowShare = 0.93;
    static constexpr double kRedShare = 0.9;
    // Followed until a service has named its allowance: the figure of an overloaded service.
    static constexpr long kFirstAllowance = 50;

private:
    opsPacer() = default;
    struct Reading {
        Clock::time_point at;
        long allowance;
        OpsLight light;
    };
    struct State {
        std::deque<Clock::time_point> sent;   // requests of the last minute
        std::deque<Reading> readings;         // answers of the last minute
        long lastAllowance = kFirstAllowance; // the last named one, for a quiet minute
        OpsLight lastLight = OpsLight::None;
        Clock::time_point suspendedUntil{};
        Clock::time_point lastSent{};
        bool anySent = false;
    };
    double AllowanceLocked(State& s, Clock::time_point now);
    void Forget(State& s, Clock::time_point now);

    // Every member below is written by all jobs' threads: one lock for all of them.
    mutable std::mutex m_mutex;
    State m_state[2];
    long long m_weekUsed = -1;
};
