// The US number forms: what docid goes to the image servers and what names the PDF.
#include "usNumber.h"
#include "uspto.h"

#include <gtest/gtest.h>

namespace {

struct Form {
    const char* typed; // after the main window removed commas and blanks
    const char* docid;
    const char* number;
};

TEST(UsRecognition, EveryPrintedFormGivesItsDocidAndFileName) {
    const Form forms[] = {
        {"5123456", "5123456", "5123456"},
        {"0005123456", "5123456", "5123456"},
        {"20020000001", "20020000001", "20020000001"},
        {"D0365123", "D0365123", "D365123"},
        {"d365123", "D0365123", "D365123"},
        {"PP012835", "PP012835", "PP12835"},
        {"RE035136", "RE035136", "RE35136"},
        {"RE35136", "RE035136", "RE35136"},
        {"re35136", "RE035136", "RE35136"},
        {"RE35136A", "RE035136", "RE35136"}, // only the leading digits count
        {"T0106201", "T0106201", "T106201"},
        {"H0001520", "H0001520", "H1520"},
        {"AI000318", "AI000318", "AI318"},
        {"X0000001", "X0000001", "X1"},
        {"123", "123", "123"},
        {"123456789012", "123456789012", "123456789012"},
    };
    for (const Form& f : forms) {
        SCOPED_TRACE(f.typed);
        const UsNumber r = RecogniseUsNumber(f.typed);
        EXPECT_FALSE(r.serial);
        EXPECT_EQ(r.docid, f.docid);
        EXPECT_EQ(r.number, f.number);
    }
}

TEST(UsRecognition, SerialNumbersNeedTheLookup) {
    const char* typed[] = {"9/836917", "09/836917", "09\\836917"};
    for (const char* t : typed) {
        SCOPED_TRACE(t);
        const UsNumber r = RecogniseUsNumber(t);
        EXPECT_TRUE(r.serial);
        EXPECT_TRUE(r.docid.empty());
        EXPECT_EQ(r.number, "9-836917");
        EXPECT_EQ(r.lookupText, "9/836917");
        EXPECT_EQ(r.series, 9u);
    }
    // An empty series is series 0, searched without a date range.
    const UsNumber empty = RecogniseUsNumber("/836917");
    EXPECT_TRUE(empty.serial);
    EXPECT_EQ(empty.number, "0-836917");
    EXPECT_EQ(empty.lookupText, "0/836917");
    EXPECT_TRUE(UsSearchPath(empty.lookupText).EndsWith("836917+and+APD%2F&d=PG01"));
}

TEST(UsRecognition, UnrecognisedFormsHaveNoDocid) {
    // Foreign numbers that the main window routes here for their first letter, a letter
    // series without a number, a patent number with a suffix, two slashes, zeros only.
    const char* typed[] = {"DE123456",  "DK12345", "HK1234", "TW123456", "RE",   "D0",
                           "5123456B1", "1/2/3",   "000",    "",         "E123", "WO2004/012345"};
    for (const char* t : typed) {
        SCOPED_TRACE(t);
        const UsNumber r = RecogniseUsNumber(t);
        EXPECT_FALSE(r.serial);
        EXPECT_TRUE(r.docid.empty());
    }
}

TEST(UsRecognition, SearchPathCarriesTheSeriesDateRange) {
    const wxString head = "/netacgi/nph-Parser?Sect1=PTO2&Sect2=HITOFF&u=%2Fnetahtml%2FPTO%2F"
                          "search-adv.html&r=0&p=1&f=S&l=50&Query=APN%2F";
    EXPECT_EQ(UsSearchPath("9/836917"),
              head + "836917+and+APD%2F1%2F1%2F1998-%3E12%2F31%2F2001&d=PG01");
    EXPECT_EQ(UsSearchPath("10/123"),
              head + "123+and+APD%2F12%2F1%2F2001-%3E12%2F31%2F2004&d=PG01");
    EXPECT_EQ(UsSearchPath("11/5"), head + "5+and+APD%2F12%2F1%2F2004-%3E12%2F31%2F2100&d=PG01");
    EXPECT_EQ(UsSearchPath("8/123456"), head + "123456+and+APD%2F&d=PG01");
    EXPECT_EQ(UsSearchPath("0/836917"), head + "836917+and+APD%2F&d=PG01");
}

} // namespace
