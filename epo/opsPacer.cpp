#include "opsPacer.h"

#include <algorithm>
#include <cctype>

namespace {

using std::chrono::milliseconds;

const auto kMinute = std::chrono::minutes(1);
// Retry-After when the answer gives none, and the longest wait believed (minutes have been
// seen; hours would be a broken header).
const long long kDefaultRetryAfterMs = 60000;
const long long kLongestRetryAfterMs = 2LL * 3600 * 1000;
const long kLargestAllowance = 100000;

int Severity(OpsLight light) {
    return static_cast<int>(light);
}

int SystemSeverity(const std::string& s) {
    if (s == "overloaded")
        return 3;
    if (s == "busy")
        return 2;
    if (s == "idle")
        return 1;
    return 0;
}

OpsLight LightNamed(const std::string& s) {
    if (s == "green")
        return OpsLight::Green;
    if (s == "yellow")
        return OpsLight::Yellow;
    if (s == "red")
        return OpsLight::Red;
    if (s == "black")
        return OpsLight::Black;
    return OpsLight::None;
}

// Keeps the more restrictive of two readings of one service.
void Merge(OpsServiceReading& into, OpsLight light, long allowance) {
    if (Severity(light) > Severity(into.light))
        into.light = light;
    if (allowance > 0 && (into.allowance == 0 || allowance < into.allowance))
        into.allowance = allowance;
}

} // namespace

bool ParseThrottlingControl(const std::string& header, OpsThrottleReading& out) {
    out = OpsThrottleReading();
    // Words of letters, each followed by what stands behind it; the form is
    // "state (name=light:number, ...)" any number of times.
    const size_t n = header.size();
    size_t i = 0;
    while (i < n) {
        if (!std::isalpha(static_cast<unsigned char>(header[i]))) {
            ++i;
            continue;
        }
        const size_t start = i;
        while (i < n && (std::isalpha(static_cast<unsigned char>(header[i])) || header[i] == '-'))
            ++i;
        std::string word = header.substr(start, std::min<size_t>(i - start, 32));
        std::transform(word.begin(), word.end(), word.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (i >= n || header[i] != '=') {
            if (SystemSeverity(word) > SystemSeverity(out.system))
                out.system = word;
            continue;
        }
        // name=light:number
        size_t j = i + 1;
        const size_t lightStart = j;
        while (j < n && std::isalpha(static_cast<unsigned char>(header[j])))
            ++j;
        std::string lightWord = header.substr(lightStart, std::min<size_t>(j - lightStart, 16));
        std::transform(lightWord.begin(), lightWord.end(), lightWord.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        long allowance = 0;
        if (j < n && header[j] == ':') {
            ++j;
            while (j < n && std::isdigit(static_cast<unsigned char>(header[j]))) {
                if (allowance < kLargestAllowance)
                    allowance = allowance * 10 + (header[j] - '0');
                ++j;
            }
        }
        i = j;
        allowance = std::min(allowance, kLargestAllowance);
        const OpsLight light = LightNamed(lightWord);
        if (light == OpsLight::None)
            continue;
        if (word == "images")
            Merge(out.images, light, allowance);
        else if (word == "retrieval")
            Merge(out.retrieval, light, allowance);
    }
    return out.images.light != OpsLight::None || out.retrieval.light != OpsLight::None;
}

long long ParseRetryAfterMs(const std::string& header) {
    size_t i = 0;
    while (i < header.size() && header[i] == ' ')
        ++i;
    long long ms = 0;
    bool any = false;
    for (; i < header.size() && std::isdigit(static_cast<unsigned char>(header[i])); ++i) {
        any = true;
        if (ms <= kLongestRetryAfterMs)
            ms = ms * 10 + (header[i] - '0');
    }
    if (!any)
        return kDefaultRetryAfterMs;
    return std::min(ms, kLongestRetryAfterMs);
}

opsPacer& opsPacer::Instance() {
    static opsPacer pacer;
    return pacer;
}

void opsPacer::Forget(State& s, Clock::time_point now) {
    while (!s.sent.empty() && now - s.sent.front() >= kMinute)
        s.sent.pop_front();
    while (!s.readings.empty() && now - s.readings.front().at >= kMinute)
        s.readings.pop_front();
}

double opsPacer::AllowanceLocked(State& s, Clock::time_point now) {
    Forget(s, now);
    long allowance = 0;
    for (const Reading& r : s.readings)
        if (r.allowance > 0 && (allowance == 0 || r.allowance < allowance))
            allowance = r.allowance;
    if (allowance == 0)
        allowance = s.lastAllowance;
    double share = kGreenShare;
    if (s.lastLight == OpsLight::Yellow)
        share = kYellowShare;
    else if (s.lastLight == OpsLight::Red || s.lastLight == OpsLight::Black)
        share = kRedShare;
    return std::max(1.0, allowance * share);
}

double opsPacer::Allowance(OpsService service) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return AllowanceLocked(m_state[static_cast<int>(service)], Clock::now());
}

std::chrono::milliseconds opsPacer::Turn(OpsService service, bool* suspended) {
    std::lock_guard<std::mutex> lock(m_mutex);
    State& s = m_state[static_cast<int>(service)];
    const Clock::time_point now = Clock::now();
    const double allowance = AllowanceLocked(s, now);
    Clock::time_point at = now;
    if (suspended)
        *suspended = s.suspendedUntil > now;
    if (s.suspendedUntil > at)
        at = s.suspendedUntil;
    // Evenly spread: a burst at the start of a minute is what turns a light black.
    if (s.anySent) {
        const auto spacing = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(60.0 / allowance));
        at = std::max(at, s.lastSent + spacing);
    }
    // And never more than the allowance within any rolling minute.
    const size_t most = static_cast<size_t>(allowance);
    if (most >= 1 && s.sent.size() >= most)
        at = std::max(at, s.sent[s.sent.size() - most] + kMinute);
    if (at > now) {
        // Rounded up, so that a caller that sleeps this long finds its turn.
        const auto wait = std::chrono::duration_cast<milliseconds>(at - now) + milliseconds(1);
        return std::min<milliseconds>(wait, milliseconds(kLongestRetryAfterMs));
    }
    s.sent.push_back(now);
    s.lastSent = now;
    s.anySent = true;
    return milliseconds(0);
}

void opsPacer::Observe(const std::string& throttlingHeader) {
    OpsThrottleReading reading;
    if (!ParseThrottlingControl(throttlingHeader, reading))
        return; // a missing header changes nothing
    std::lock_guard<std::mutex> lock(m_mutex);
    const Clock::time_point now = Clock::now();
    const OpsServiceReading* both[2] = {&reading.images, &reading.retrieval};
    for (int i = 0; i < 2; ++i) {
        const OpsServiceReading& r = *both[i];
        if (r.light == OpsLight::None)
            continue;
        State& s = m_state[i];
        Forget(s, now);
        s.readings.push_back({now, r.allowance, r.light});
        if (r.allowance > 0)
            s.lastAllowance = r.allowance;
        s.lastLight = r.light;
    }
}

void opsPacer::Suspend(OpsService service, std::chrono::milliseconds wait) {
    if (wait.count() < 0)
        wait = milliseconds(0);
    wait = std::min<milliseconds>(wait, milliseconds(kLongestRetryAfterMs));
    std::lock_guard<std::mutex> lock(m_mutex);
    State& s = m_state[static_cast<int>(service)];
    s.suspendedUntil = std::max(s.suspendedUntil, Clock::now() + wait);
}

void opsPacer::NoteWeekUsed(const std::string& header) {
    long long value = 0;
    bool any = false;
    for (char c : header) {
        if (c == ' ' && !any)
            continue;
        if (!std::isdigit(static_cast<unsigned char>(c)))
            break;
        any = true;
        if (value > (1LL << 50))
            return; // not a byte count of one week
        value = value * 10 + (c - '0');
    }
    if (!any)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_weekUsed = value;
}

long long opsPacer::WeekUsedBytes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_weekUsed;
}

void opsPacer::Reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_state[0] = State();
    m_state[1] = State();
    m_weekUsed = -1;
}

long long OpsWeekQuotaUsedBytes() {
    return opsPacer::Instance().WeekUsedBytes();
}
