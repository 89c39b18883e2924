#include "opsJobHarness.h"

#include <cstdlib>

void OpsJob::SetUp() {
    JobTest::SetUp();
    service = &fake->enableOps();
    ASSERT_TRUE(service->ok()) << service->error();
    // Quick pacing unless a test advertises otherwise.
    service->setThrottle(Allowing(1200));
    setenv("https_proxy", fake->proxyUrl().c_str(), 1);
    setenv("CURL_CA_BUNDLE", service->caBundlePath().c_str(), 1);
    opsPacer::Instance().Reset();
    opsTokens::Instance().Reset();
    key.key = qvfake::kOpsSampleKey;
    key.secret = qvfake::kOpsSampleSecret;
}

void OpsJob::TearDown() {
    JobTest::TearDown();
    unsetenv("https_proxy");
    unsetenv("CURL_CA_BUNDLE");
    opsPacer::Instance().Reset();
    opsTokens::Instance().Reset();
}

ops* OpsJob::MakeJob(int id, const std::string& number) {
    return new ops(id, JobInput(wxString::FromUTF8(number.c_str())), key);
}

std::vector<std::string> OpsJob::Pages(int count, unsigned seed) {
    std::vector<std::string> pages;
    for (int i = 0; i < count; ++i)
        pages.push_back(qvfake::opsPage(seed + static_cast<unsigned>(i), 240, 320));
    return pages;
}

qvfake::OpsThrottle OpsJob::Allowing(int images) {
    qvfake::OpsThrottle t;
    t.images = images;
    t.retrieval = images;
    t.other = images;
    return t;
}

void OpsJob::ExpectNoSecretShown() {
    std::vector<std::string> secrets = service->tokens();
    secrets.push_back(key.secret.ToStdString());
    secrets.push_back(OpsBasicAuthorization(key).substr(6));
    for (const JobEventRecord& e : recorder->events)
        for (const std::string& s : secrets)
            EXPECT_EQ(e.text.find(s), std::string::npos) << e.text;
    for (const std::string& line : log->Messages())
        for (const std::string& s : secrets)
            EXPECT_EQ(line.find(s), std::string::npos) << line;
    for (const auto& r : fake->requests())
        for (const std::string& s : secrets)
            EXPECT_EQ(r.target.find(s), std::string::npos) << r.target;
}
