// Jobs need the base library initialised (their events are queued through it) and the
// network library set up before any session exists.
#include "netInit.h"

#include <gtest/gtest.h>
#include <wx/init.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    wxInitializer wx;
    if (!wx.IsOk() || !qvNetInit())
        return 2;
    const int result = RUN_ALL_TESTS();
    qvNetCleanup();
    return result;
}
