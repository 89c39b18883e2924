// Which job kind a typed number goes to.
#include "jobFactory.h"
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

// Where each form goes: US numbers to the USPTO's Patent Public Search with or without a key,
// kind codes and the EPO choice to the EPO when there is a key, the rest as before.
TEST(Route, UsNumbersToTheUsptoByKeySettingAndKindCode) {
    enum Key { NoKey, WithKey };
    struct Row {
        const char* typed;
        Key key;
        UsSource source;
        int kind;
    } rows[] = {
        {"5,123,456", NoKey, UsSource::Ppubs, kPpubsJob},
        {"5,123,456", WithKey, UsSource::Ppubs, kPpubsJob},
        {"D0365123", WithKey, UsSource::Ppubs, kPpubsJob},
        {"RE35136", NoKey, UsSource::Ppubs, kPpubsJob},
        {"PP012835", NoKey, UsSource::Ppubs, kPpubsJob},
        {"H0001520", NoKey, UsSource::Ppubs, kPpubsJob},
        {"T0106201", NoKey, UsSource::Ppubs, kPpubsJob},
        {"20160009839", WithKey, UsSource::Ppubs, kPpubsJob},
        {"US6103599", NoKey, UsSource::Ppubs, kPpubsJob},
        {"US7000000B1", WithKey, UsSource::Ppubs, kOpsJob},
        {"US7000000B1", NoKey, UsSource::Ppubs, kPpubsJob},
        {"5,123,456", WithKey, UsSource::Epo, kOpsJob},
        {"5,123,456", NoKey, UsSource::Epo, kPpubsJob},
        {"5,123,456", WithKey, UsSource::UsptoImages, kUsptoJob},
        {"09/836917", NoKey, UsSource::Ppubs, kUsptoJob},
        {"09/836917", WithKey, UsSource::Ppubs, kOpsJob},
        {"X0000001", NoKey, UsSource::Ppubs, kUsptoJob},
        {"EP1000000", NoKey, UsSource::Ppubs, kPctJob},
        {"EP1000000", WithKey, UsSource::Ppubs, kOpsJob},
        {"EP1000000", WithKey, UsSource::UsptoImages, kOpsJob},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.typed) + (row.key ? " with a key" : " without a key") +
                     " source " + std::to_string(int(row.source)));
        JobRecord record{wxString(row.typed)};
        ASSERT_TRUE(record.valid);
        JobContext context;
        if (row.key == WithKey)
            context.key = {"key", "secret"};
        context.usSource = row.source;
        EXPECT_EQ(RouteJob(record.kind, record.number, context), row.kind);
    }
    UsSource source = UsSource::Ppubs;
    EXPECT_TRUE(ParseUsSource("uspto-images", source));
    EXPECT_EQ(source, UsSource::UsptoImages);
    EXPECT_FALSE(ParseUsSource("USPTO", source));
}
