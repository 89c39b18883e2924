// libcurl keeps process-wide state that must be set up before any thread creates an
// httpSession, and torn down after the last one is gone. Call these from main (the program's
// and every test program's), never from a worker thread.
#pragma once

// Sets up the network library; false when it cannot be used at all.
bool qvNetInit();
// Releases what qvNetInit set up. Every session must have been destroyed before.
void qvNetCleanup();
