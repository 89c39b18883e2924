// Pacing of the requests to the USPTO's Patent Public Search, one pacer for the whole process.
// The service limits requests with token buckets that refill continuously: the searches
// share one of about 40 requests refilled in about 70 s, the print steps (print request and
// save) one of about 5. Every answer from a bucket says how many requests are left
// (x-rate-limit-remaining). All jobs ask here before a request: the pacer keeps its estimate
// of each bucket from those answers and the time since, and lets a request go only while at
// least one more would be left, so the bucket is never emptied by us and no 429 is provoked.
#pragma once

#include <chrono>
#include <mutex>

enum class PpubsBucket { Search = 0, Print = 1, Other = 2 };

// The bucket a request path counts against.
PpubsBucket PpubsBucketOf(const char* path);

class ppubsPacer {
public:
    using Clock = std::chrono::steady_clock;

    static ppubsPacer& Instance();

    // How long a request must wait before it may go (0: it goes now and is counted as sent,
    // to be followed by Answered or Lost). Callers sleep in slices and ask again.
    std::chrono::milliseconds Turn(PpubsBucket bucket);
    // The answer came; remaining is its x-rate-limit-remaining (-1: none).
    void Answered(PpubsBucket bucket, long remaining);
    // No answer came (the request may or may not have counted).
    void Lost(PpubsBucket bucket);
    // A 429: the bucket is empty; nothing goes before retryAfterSeconds + 1 have passed.
    void Refused(PpubsBucket bucket, long retryAfterSeconds);

    // The service's figures as recorded; the refill time can be scaled for benchmarks and
    // tests (set while no request runs). Reset forgets everything learned.
    static constexpr int kSearchCapacity = 40;
    static constexpr int kPrintCapacity = 5;
    static constexpr std::chrono::milliseconds kRefill{70000};
    void SetRefillTime(std::chrono::milliseconds refill);
    void Reset();

    // Requests kept back in each bucket: one, so that a request of someone else from the same
    // address, or a refill slower than thought, still finds a token.
    static constexpr double kReserve = 1;

private:
    ppubsPacer();
    struct Bucket {
        double tokens = 0; // estimate of what the service has left now
        double capacity = 0;
        int inFlight = 0;       // sent, not yet answered
        Clock::time_point at{}; // when tokens was estimated
        Clock::time_point closedUntil{};
    };
    void Refill(Bucket& b, Clock::time_point now) const;

    // Every job's thread reads and writes the buckets: one lock for all of them.
    mutable std::mutex m_mutex;
    Bucket m_buckets[3];
    std::chrono::milliseconds m_refill{kRefill};
};
