// Which job kind a typed number goes to.
#include "jobRecord.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    const char* typed;
    bool valid;
    int kind;
    const char* number;
};

TEST(Classify, RoutesEveryFormToItsJobKind) {
    const Case cases[] = {
        {"5,123,456", true, kUsptoJob, "5123456"},
        {"5 123 456", true, kUsptoJob, "5123456"},
        {"20020000001", true, kUsptoJob, "20020000001"},
        {"12abc", true, kUsptoJob, "12abc"},
        {"99999999999999999999999", true, kUsptoJob, "99999999999999999999999"},
        {"09/836,917", true, kUsptoJob, "09/836917"},
        {"09\\836917", true, kUsptoJob, "09\\836917"},
        {"WO2004/012345", true, kUsptoJob, "WO2004/012345"},
        {"DE1234567", true, kUsptoJob, "DE1234567"},
        {"d365123", true, kUsptoJob, "d365123"},
        {"x1", true, kUsptoJob, "x1"},
        {"H0001520", true, kUsptoJob, "H0001520"},
        {"T0106201", true, kUsptoJob, "T0106201"},
        {"ai000318", true, kUsptoJob, "ai000318"},
        {"RE35136", true, kUsptoJob, "RE35136"},
        {"pp012835", true, kUsptoJob, "pp012835"},
        {"EP15", true, kPctJob, "EP15"},
        {"ep15", true, kPctJob, "ep15"},
        {"0EP15", true, kPctJob, "0EP15"},             // leading number 0, country code inside
        {"EP15\"/><X", true, kUsptoJob, "EP15\"/><X"}, // the slash makes it a US form
        {"EP15\"><X", true, kPctJob, "EP15\"><X"},
        {"0", false, 0, "0"},
        {"abc", false, 0, "abc"},
        {"E1", false, 0, "E1"},
        {"EPX", false, 0, "EPX"},
        {"100%s%n", true, kUsptoJob, "100%s%n"},
        {"%s%n", false, 0, "%s%n"},
    };
    for (const Case& c : cases) {
        JobRecord record(wxString::FromUTF8(c.typed));
        EXPECT_EQ(record.valid, c.valid) << c.typed;
        EXPECT_EQ(record.number, wxString::FromUTF8(c.number)) << c.typed;
        if (c.valid) {
            EXPECT_EQ(record.kind, c.kind) << c.typed;
        }
        EXPECT_FALSE(record.finished) << c.typed;
    }
}

TEST(Classify, OnlyCommasAndBlanksIsEmptyAndFinished) {
    JobRecord record(" , ,");
    EXPECT_FALSE(record.valid);
    EXPECT_TRUE(record.finished);
    EXPECT_TRUE(record.number.empty());
}

} // namespace
