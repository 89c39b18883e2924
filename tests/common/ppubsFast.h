// The USPTO fake with the recorded buckets (40 searches, 5 print steps) refilled in `refill`
// on both sides, the fake's and the pacer's, and a client without a session; undone after.
#pragma once

#include "fakePpubs.h"
#include "ppubsClient.h"
#include "ppubsPacer.h"

#include <chrono>

struct FastPpubs {
    FastPpubs(qvfake::PpubsFake& fake, std::chrono::milliseconds refill, int pollMs) {
        ppubsPacer::Instance().Reset();
        ppubsPacer::Instance().SetRefillTime(refill);
        fake.setSearchBucket({40, refill});
        fake.setPrintBucket({5, refill});
        ppubsClient::ForgetSession();
        ppubsClient::SetPollInterval(pollMs);
    }
    ~FastPpubs() {
        ppubsPacer::Instance().Reset();
        ppubsPacer::Instance().SetRefillTime(ppubsPacer::kRefill);
        ppubsClient::ForgetSession();
    }
};
