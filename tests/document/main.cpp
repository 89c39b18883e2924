// The document tests run with wxBase initialised, as in the program, so that the
// library's log reaches its active target from the main thread.
#include <gtest/gtest.h>
#include <wx/init.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    wxInitializer wx;
    if (!wx.IsOk())
        return 1;
    return RUN_ALL_TESTS();
}
