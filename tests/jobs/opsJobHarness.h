// EPO jobs against the fake service: the fake is the HTTPS proxy, its test CA the extra
// trusted bundle, the pacer and the token store start empty for every test.
#pragma once

#include "jobHarness.h"
#include "ops.h"

class OpsJob : public JobTest {
protected:
    void SetUp() override;
    void TearDown() override;

    ops* MakeJob(int id, const std::string& number);
    // Small pages in the served form.
    static std::vector<std::string> Pages(int count, unsigned seed = 1);
    // What the fake advertises: every service at `images` pages a minute.
    static qvfake::OpsThrottle Allowing(int images);
    // Neither the secret nor a token in any status or log line.
    void ExpectNoSecretShown();

    qvfake::OpsFake* service = nullptr;
    OpsCredentials key;
};
