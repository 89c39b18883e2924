// main() of the tests that need no display: wxBase (its log and the application object that
// queues events) and the network library are set up once, before any test or thread starts.
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
