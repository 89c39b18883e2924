// The document tests run with wxBase and the network library set up as in the program, so
// that the library's log reaches its active target from the main thread.
#include "netInit.h"

#include <gtest/gtest.h>
#include <wx/init.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    wxInitializer wx;
    if (!wx.IsOk() || !qvNetInit())
        return 2;
    const int rc = RUN_ALL_TESTS();
    qvNetCleanup();
    return rc;
}
