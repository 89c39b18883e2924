// How text with several numbers and list files are cut into numbers.
#include "numberList.h"
#include "testutil.h"

#include <gtest/gtest.h>

namespace {

wxString joined(const std::vector<wxString>& pieces) {
    wxString out;
    for (const wxString& p : pieces)
        out << (out.empty() ? "" : "|") << p;
    return out;
}

TEST(NumberList, SplitsTypedTextOnLineBreaksTabsAndSemicolonsOnly) {
    struct Case {
        const char* text;
        bool several;
        const char* pieces;
    } cases[] = {
        {"5,123,456", false, "5,123,456"},
        {"EP 1000000 B1", false, "EP 1000000 B1"},
        {"5123456\n5123457", true, "5123456|5123457"},
        {"5123456\r\n 5,123,457 \r\n\r\nEP 1000000 B1\r\n", true,
         "5123456|5,123,457|EP 1000000 B1"},
        {"a;b\tc\rd", true, "a|b|c|d"},
        {" ; 5123456 ;", true, "5123456"},
        {";;\n\t \r", true, ""},
        {"09/836917;D0365123", true, "09/836917|D0365123"},
    };
    for (const Case& c : cases) {
        const wxString text = wxString::FromUTF8(c.text);
        EXPECT_EQ(HoldsSeveralNumbers(text), c.several) << c.text;
        EXPECT_EQ(joined(SplitNumbers(text)), wxString::FromUTF8(c.pieces)) << c.text;
    }
}

TEST(NumberList, ListFileRules) {
    struct Case {
        std::string bytes;
        ListFormat format;
        const char* numbers;
    } cases[] = {
        // One number per line, whatever the line ends; commas and spaces stay in the number.
        {"5123456\n5,123,457\nEP 1000000 B1", ListFormat::Lines, "5123456|5,123,457|EP 1000000 B1"},
        {"1\r\n2\r\n\r\n3\r\n", ListFormat::Lines, "1|2|3"},
        {"1\r2\r\r3", ListFormat::Lines, "1|2|3"},
        {"1\n\r\n2", ListFormat::Lines, "1|2"},
        // Byte order mark, comments (also indented), blank and blank-looking lines.
        {"\xEF\xBB\xBF# refs\n  # cited by the examiner\n\n \t \n5123456\n", ListFormat::Lines,
         "5123456"},
        {"\xEF\xBB\xBF"
         "5123456",
         ListFormat::Lines, "5123456"},
        {"", ListFormat::Lines, ""},
        // A line that is not a number is still a line: the job routing judges it.
        {"abc\n5123456 # note\n", ListFormat::Lines, "abc|5123456 # note"},
        // CSV: the first field; quotes protect commas; "" is a quote.
        {"number,title\n5123456,Widget\n\"5,123,457\",\"a, b\"\n", ListFormat::Csv,
         "number|5123456|5,123,457"},
        {"\"say \"\"x\"\"\",y\n,empty first field\n#5123456,commented\n", ListFormat::Csv,
         "say \"x\""},
        {"\xEF\xBB\xBF\"EP 1000000 B1\",x\r\n  5123456 ,y\r\n", ListFormat::Csv,
         "EP 1000000 B1|5123456"},
        {"\"5123456\n7654321", ListFormat::Csv,
         "5123456|7654321"}, // unclosed quote ends with its line
        {"5,123,456", ListFormat::Csv, "5"},
        // Quoted fields may hold line breaks, in any column: the record goes on past them.
        {"EP1000002,\"cited;\nsee also\n7,654,321\"\n5123456,x", ListFormat::Csv,
         "EP1000002|5123456"},
        {"\"a\r\nb\",x\r\n# \"comment\n\"5,123,456\"\"x\",y", ListFormat::Csv,
         "a\r\nb|5,123,456\"x"},
        // Bytes that are not UTF-8 are read one for one.
        {"D\xE9\n", ListFormat::Lines, "D\xC3\xA9"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(joined(NumbersOfList(c.bytes, c.format)), wxString::FromUTF8(c.numbers))
            << c.bytes;

    EXPECT_EQ(ListFormatOfName("refs.CSV"), ListFormat::Csv);
    EXPECT_EQ(ListFormatOfName("/tmp/a.b/refs.csv"), ListFormat::Csv);
    EXPECT_EQ(ListFormatOfName("refs.txt"), ListFormat::Lines);
    EXPECT_EQ(ListFormatOfName("csv"), ListFormat::Lines);
}

TEST(NumberList, ReadingAFileSaysWhyItFailed) {
    qvtest::TempDir dir("qv-lists");
    std::vector<wxString> numbers;
    wxString error;

    ASSERT_TRUE(qvtest::writeFile(dir.file("refs.csv"), "\"5,123,456\",x\n# c\nEP15\n"));
    ASSERT_TRUE(ReadListFile(dir.file("refs.csv"), numbers, error)) << error;
    EXPECT_EQ(joined(numbers), "5,123,456|EP15");

    struct Bad {
        std::string path;
        const char* says;
    } bad[] = {
        {dir.file("missing.txt"), "No such file"},
        {dir.path(), "Is a directory"},
        {dir.file("huge.txt"), "larger than 4 MB"},
    };
    ASSERT_TRUE(qvtest::writeFile(dir.file("huge.txt"), std::string(kMaxListFileBytes + 1, '1')));
    for (const Bad& b : bad) {
        numbers.assign(1, "kept");
        error.clear();
        EXPECT_FALSE(ReadListFile(b.path, numbers, error)) << b.path;
        EXPECT_TRUE(error.Contains(b.path)) << error;
        EXPECT_TRUE(error.Contains(b.says)) << error;
        EXPECT_EQ(joined(numbers), "kept");
    }
}

} // namespace
