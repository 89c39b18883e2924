// quorvane-get's rules without the process: the command line, JSON strings, outcomes.
#include "getCore.h"

#include <gtest/gtest.h>

namespace {

using qvget::Outcome;

std::string joined(const std::vector<std::string>& v) {
    std::string out;
    for (const std::string& s : v)
        out += (out.empty() ? "" : "|") + s;
    return out;
}

TEST(GetCore, CommandLine) {
    struct Case {
        std::vector<std::string> args;
        const char* folder;
        int jobs;
        const char* files;
        const char* numbers;
        bool quiet, json;
    } cases[] = {
        {{"5,123,456", "EP1000000"}, "", 0, "", "5,123,456|EP1000000", false, false},
        {{"-o", "/tmp/p", "-j", "8", "-f", "refs.txt", "--quiet", "1"},
         "/tmp/p",
         8,
         "refs.txt",
         "1",
         true,
         false},
        {{"-o/tmp/p", "-j511", "-f-", "--json"}, "/tmp/p", 511, "-", "", false, true},
        {{"-f", "a.txt", "1", "-f", "b.csv", "2"}, "", 0, "a.txt|b.csv", "1|2", false, false},
        {{"--", "-j", "--json"}, "", 0, "", "-j|--json", false, false},
    };
    for (const Case& c : cases) {
        qvget::Options o;
        std::string error;
        ASSERT_TRUE(qvget::ParseArguments(c.args, o, error)) << joined(c.args) << ": " << error;
        EXPECT_EQ(o.folder, c.folder) << joined(c.args);
        EXPECT_EQ(o.jobs, c.jobs) << joined(c.args);
        EXPECT_EQ(joined(o.listFiles), c.files) << joined(c.args);
        EXPECT_EQ(joined(o.numbers), c.numbers) << joined(c.args);
        EXPECT_EQ(o.quiet, c.quiet) << joined(c.args);
        EXPECT_EQ(o.json, c.json) << joined(c.args);
    }

    const std::vector<std::string> bad[] = {
        {"-j", "0"},  {"-j", "512"},     {"-j", "8x"}, {"-j", "-1"}, {"-j", ""},  {"-j"},
        {"-o"},       {"-o", ""},        {"-f"},       {"-f", ""},   {"-x", "1"}, {"-q", "1"},
        {"--jobs=3"}, {"--json=1", "1"}, {"-"},
    };
    for (const auto& args : bad) {
        qvget::Options o;
        std::string error;
        EXPECT_FALSE(qvget::ParseArguments(args, o, error)) << joined(args);
        EXPECT_FALSE(error.empty()) << joined(args);
    }
}

TEST(GetCore, JsonStringsStayValidWhateverTheyHold) {
    const std::pair<std::string, std::string> cases[] = {
        {"5,123,456", "\"5,123,456\""},
        {"say \"hi\" \\ /", "\"say \\\"hi\\\" \\\\ /\""},
        {"a\tb\nc\rd\be\ff", "\"a\\tb\\nc\\rd\\be\\ff\""},
        {std::string("\x01\x1f\x7f", 3), "\"\\u0001\\u001f\\u007f\""},
        {std::string("nul\0x", 5), "\"nul\\u0000x\""},
        {"/home/j\xC3\xBCrgen/\xE2\x82\xAC\xF0\x9F\x93\x84.pdf",
         "\"/home/j\xC3\xBCrgen/\xE2\x82\xAC\xF0\x9F\x93\x84.pdf\""},
        // Not UTF-8: a stray continuation byte, a lead byte without its tail, an overlong
        // form, an encoded surrogate, a code point past U+10FFFF.
        {"a\x80z", "\"a\xEF\xBF\xBDz\""},
        {"a\xC3", "\"a\xEF\xBF\xBD\""},
        {"\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},
        {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
        {"\xF4\x90\x80\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(qvget::JsonString(c.first), c.second) << c.first;
}

TEST(GetCore, OutcomesSummaryAndPages) {
    const std::pair<JobPhase, Outcome> outcomes[] = {
        {JobPhase::Finished, Outcome::Finished},
        {JobPhase::AlreadyThere, Outcome::PreviouslyDownloaded},
        {JobPhase::NotFound, Outcome::NotFound},
        {JobPhase::UnknownFormat, Outcome::UnknownFormat},
        {JobPhase::Cancelled, Outcome::Cancelled},
        {JobPhase::Failed, Outcome::Failed},
        {JobPhase::Downloading, Outcome::Failed}, // a job that stopped midway
        {JobPhase::Countdown, Outcome::Failed},
    };
    for (const auto& o : outcomes) {
        EXPECT_EQ(qvget::OutcomeOfPhase(o.first), o.second) << static_cast<int>(o.first);
        EXPECT_EQ(qvget::IsSuccess(o.second),
                  o.second == Outcome::Finished || o.second == Outcome::PreviouslyDownloaded);
    }

    EXPECT_EQ(qvget::Summary({12, 2, 1, 0, 0, 0}),
              "12 finished, 2 previously downloaded, 1 not found");
    EXPECT_EQ(qvget::Summary({0, 0, 0, 1, 2, 3}), "1 unknown format, 2 failed, 3 cancelled");
    EXPECT_EQ(qvget::Summary({0, 0, 0, 0, 0, 0}), "nothing downloaded");

    // What a terminal would obey turns into '?'; other text, UTF-8 included, stays.
    EXPECT_EQ(qvget::Printable("Error \x1b]0;title\x07 \x1b[2J\r\n\x7f"),
              "Error ?]0;title? ?[2J???");
    EXPECT_EQ(qvget::Printable("\xC2\x9B"
                               "31m \x9b"
                               "1m"),
              "?31m ?1m");
    EXPECT_EQ(qvget::Printable("/home/j\xC3\xBCrgen/\xC2\xA7 \xC4\x9B 5,123,456.pdf"),
              "/home/j\xC3\xBCrgen/\xC2\xA7 \xC4\x9B 5,123,456.pdf");
}

} // namespace
