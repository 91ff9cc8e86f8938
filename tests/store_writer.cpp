// A small host for the process tests: drives the store object through its
// interfaces, with the fake host, on one account under the given root. Each round
// adds one calendar and its events in the start-up batch, and prints
// "ack <calendar> <events>" only after every write and the end of the batch
// returned S_OK. With --wait it says "ready" and reads its input to the end, so that a test
// can start many writers at one moment; with --slow-disk every sync of the file
// takes a few milliseconds more, as on a slow disk.
//
//   store_writer ROOT ACCOUNT FIRST_CALENDAR ROUNDS EVENTS [--wait] [--slow-disk]   (ROUNDS 0: until killed)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "FaultVfs.h"
#include "StoreDriver.h"

namespace {

void SetEnv(const char* pszName, const std::string& strValue)
{
#ifdef _WIN32
    _putenv_s(pszName, strValue.c_str());
#else
    setenv(pszName, strValue.c_str(), 1);
#endif
}

// One round; true when everything of it was acknowledged.
bool WriteCalendar(ULONG dwAccount, LONG lCalID, LONG lEvents)
{
    testing_support::CStoreDriver store(dwAccount);
    bool bOk = store.Created() && store.Start() == S_OK;
    bOk = store.AddCalendar(lCalID) == S_OK && bOk;
    for (LONG lEvtID = 1; lEvtID <= lEvents; ++lEvtID) {
        bOk = store.AddEvent(lCalID, lEvtID) == S_OK && bOk;
    }
    bOk = store.EndStartupBatch() == S_OK && bOk;
    if (bOk) {
        std::printf("ack %ld %ld\n", long(lCalID), long(lEvents));
    } else {
        std::printf("failed %ld\n", long(lCalID));
    }
    std::fflush(stdout);
    store.Stop();
    return bOk;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 6) {
        std::fprintf(stderr, "usage: store_writer ROOT ACCOUNT FIRST_CALENDAR ROUNDS EVENTS [--wait] [--slow-disk]\n");
        return 2;
    }
    SetEnv("CALSTORE_ROOT", argv[1]);
    SetEnv("CALSTORE_LOG", "off");
    const ULONG dwAccount = ULONG(std::strtoul(argv[2], nullptr, 10));
    const LONG lFirst = std::strtol(argv[3], nullptr, 10);
    const long nRounds = std::strtol(argv[4], nullptr, 10);
    const LONG lEvents = std::strtol(argv[5], nullptr, 10);
    bool bWait = false, bSlowDisk = false;
    for (int n = 6; n < argc; ++n) {
        bWait = bWait || std::strcmp(argv[n], "--wait") == 0;
        bSlowDisk = bSlowDisk || std::strcmp(argv[n], "--slow-disk") == 0;
    }
    faultvfs::CFaultVfs vfs(true);
    vfs.SetSyncDelay(bSlowDisk ? 3000 : 0);
    if (bWait) {
        std::printf("ready\n");
        std::fflush(stdout);
        while (std::fgetc(stdin) != EOF) {
        }
    }
    bool bAllOk = true;
    for (long nRound = 0; nRounds == 0 || nRound < nRounds; ++nRound) {
        bAllOk = WriteCalendar(dwAccount, LONG(lFirst + nRound), lEvents) && bAllOk;
    }
    return bAllOk ? 0 : 1;
}
