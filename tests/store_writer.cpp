// A writer for the process tests, on a slow disk: says "ready <pid>", waits for
// ROOT/ACCOUNT.go, then each round adds a calendar and its events in the start-up
// batch and prints "ack <calendar> <events>" once all of it returned S_OK.
//   store_writer ROOT ACCOUNT FIRST_CALENDAR ROUNDS EVENTS   (ROUNDS 0: until killed)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "FaultVfs.h"
#include "StoreDriver.h"
#include "TestSupport.h"

int main(int argc, char** argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: store_writer ROOT ACCOUNT FIRST_CALENDAR ROUNDS EVENTS\n");
        return 2;
    }
    setenv("CALSTORE_ROOT", argv[1], 1);
    setenv("CALSTORE_LOG", "off", 1);
    const ULONG dwAccount = ULONG(std::strtoul(argv[2], nullptr, 10));
    const long nRounds = std::strtol(argv[4], nullptr, 10);
    const LONG lEvents = std::strtol(argv[5], nullptr, 10);
    faultvfs::CFaultVfs vfs(true);
    vfs.SetSyncDelay(3000);
    std::printf("ready %ld\n", long(getpid()));
    std::fflush(stdout);
    while (!testing_support::FileExists(std::string(argv[1]) + "/" + argv[2] + ".go")) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    bool bAllOk = true;
    for (long nRound = 0; nRounds == 0 || nRound < nRounds; ++nRound) {
        const LONG lCalID = LONG(std::strtol(argv[3], nullptr, 10) + nRound);
        testing_support::CStoreDriver store(dwAccount);
        bool bOk = store.Created() && store.Start() == S_OK;
        bOk = store.AddCalendar(lCalID) == S_OK && bOk;
        for (LONG lEvtID = 1; lEvtID <= lEvents; ++lEvtID) {
            bOk = store.AddEvent(lCalID, lEvtID) == S_OK && bOk;
        }
        bOk = store.EndStartupBatch() == S_OK && bOk;
        if (bOk) {
            std::printf("ack %ld %ld\n", long(lCalID), long(lEvents));
        }
        std::fflush(stdout);
        store.Stop();
        bAllOk = bAllOk && bOk;
    }
    return bAllOk ? 0 : 1;
}
