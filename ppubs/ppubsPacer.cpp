#include "ppubsPacer.h"

#include "ppubsProtocol.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// Requests of the unmetered kind (the session, the print progress) at most this often: the
// web page itself polls once a second.
const std::chrono::milliseconds kOtherGap(250);

} // namespace

PpubsBucket PpubsBucketOf(const char* path) {
    if (std::strcmp(path, ppubshost::kSearch) == 0 || std::strcmp(path, ppubshost::kCounts) == 0)
        return PpubsBucket::Search;
    if (std::strcmp(path, ppubshost::kPrint) == 0 ||
        std::strncmp(path, ppubshost::kSave, std::strlen(ppubshost::kSave)) == 0)
        return PpubsBucket::Print;
    return PpubsBucket::Other;
}

ppubsPacer& ppubsPacer::Instance() {
    static ppubsPacer pacer;
    return pacer;
}

ppubsPacer::ppubsPacer() {
    // The benchmark runs the fake service's buckets faster and tells quorvane-get so here.
    const char* scaled = std::getenv("QUORVANE_PPUBS_REFILL_MS");
    const long ms = scaled ? std::strtol(scaled, nullptr, 10) : 0;
    if (ms > 0 && ms <= 3600000)
        m_refill = std::chrono::milliseconds(ms);
    Reset();
}

void ppubsPacer::Reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    const Clock::time_point now = Clock::now();
    const int capacity[3] = {kSearchCapacity, kPrintCapacity, 1};
    for (int i = 0; i < 3; ++i) {
        m_buckets[i] = Bucket();
        m_buckets[i].capacity = capacity[i];
        // Until an answer says otherwise, the bucket is taken to be full.
        m_buckets[i].tokens = capacity[i];
        m_buckets[i].at = now;
    }
}

void ppubsPacer::SetRefillTime(std::chrono::milliseconds refill) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_refill = std::max(refill, std::chrono::milliseconds(1));
}

void ppubsPacer::Refill(Bucket& b, Clock::time_point now) const {
    if (now <= b.at)
        return;
    const double rate = b.capacity / std::chrono::duration<double>(m_refill).count();
    b.tokens =
        std::min(b.capacity, b.tokens + rate * std::chrono::duration<double>(now - b.at).count());
    b.at = now;
}

std::chrono::milliseconds ppubsPacer::Turn(PpubsBucket which) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Bucket& b = m_buckets[int(which)];
    const Clock::time_point now = Clock::now();
    if (now < b.closedUntil)
        return std::chrono::duration_cast<std::chrono::milliseconds>(b.closedUntil - now) +
               std::chrono::milliseconds(1);
    if (which == PpubsBucket::Other) {
        // No bucket announced: only spaced out.
        b.closedUntil = now + kOtherGap;
        return std::chrono::milliseconds(0);
    }
    Refill(b, now);
    // One token for this request and the reserve left behind.
    const double needed = 1 + kReserve;
    if (b.tokens >= needed) {
        b.tokens -= 1;
        ++b.inFlight;
        return std::chrono::milliseconds(0);
    }
    const double rate = b.capacity / std::chrono::duration<double>(m_refill).count();
    const double seconds = (needed - b.tokens) / rate;
    return std::chrono::milliseconds(static_cast<long long>(std::ceil(seconds * 1000)) + 1);
}

void ppubsPacer::Answered(PpubsBucket which, long remaining) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Bucket& b = m_buckets[int(which)];
    b.inFlight = std::max(0, b.inFlight - 1);
    if (which == PpubsBucket::Other || remaining < 0)
        return;
    // The service's count is the truth at its answer; the requests still on their way may
    // not be in it yet, so they are taken off as well.
    b.capacity = std::max(b.capacity, double(remaining + 1));
    b.tokens = std::min(b.capacity, double(remaining - b.inFlight));
    b.at = Clock::now();
}

void ppubsPacer::Lost(PpubsBucket which) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Bucket& b = m_buckets[int(which)];
    b.inFlight = std::max(0, b.inFlight - 1);
}

void ppubsPacer::Refused(PpubsBucket which, long retryAfterSeconds) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Bucket& b = m_buckets[int(which)];
    b.inFlight = std::max(0, b.inFlight - 1);
    const Clock::time_point now = Clock::now();
    b.tokens = 0;
    b.at = now;
    b.closedUntil = std::max(b.closedUntil, now + std::chrono::seconds(retryAfterSeconds + 1));
}
