// What a small answer can make a job hold. The page list is built in full before the first
// page is fetched, so its size is the page count times the path length, and both come from
// the answer. Found by the page-list fuzz target: a 4 KB answer took 1.5 GB and 16 s.
#include "jobHosts.h"
#include "uspto.h"

#include <gtest/gtest.h>

namespace {

std::string Answer(long pages, size_t pathLength) {
    std::string path = "/.DImg?Docid=US5000300&PageNum=1&IDKey=";
    path += std::string(pathLength > path.size() ? pathLength - path.size() : 0, 'A');
    return "<html>\n<!-- NumPages=" + std::to_string(pages) + " -->\n<embed src=\"" + path +
           "\" width=\"100%\" height=\"100%\">\n</html>\n";
}

size_t PathCharacters(const UsPageList& list) {
    size_t chars = 0;
    for (const wxString& page : list.pages)
        chars += page.length();
    return chars;
}

TEST(PageListSize, LongDocumentsWithRealPathsAreBelieved) {
    const std::string answer = Answer(20000, 90);
    UsPageList list;
    ASSERT_TRUE(ParseUsPageListText(wxString::From8BitData(answer.data(), answer.size()), list));
    ASSERT_EQ(list.pages.size(), 20000u);
    EXPECT_NE(list.pages[19999].find("PageNum=20000&"), wxString::npos);
}

// 64 MB of page paths at most (16 Mi characters of four bytes), far above any real
// document (20000 pages of 100 characters are 2 Mi).
TEST(PageListSize, SmallAnswerCannotMakeTheJobHoldAHugeList) {
    const std::string answer = Answer(jobhosts::kMaxPages, 400);
    ASSERT_LT(answer.size(), 1024u);
    UsPageList list;
    ASSERT_TRUE(ParseUsPageListText(wxString::From8BitData(answer.data(), answer.size()), list));
    EXPECT_LE(PathCharacters(list), size_t(16) << 20)
        << list.pages.size() << " page paths from a " << answer.size() << "-byte answer";
}

} // namespace
