// A SQLite VFS for tests that wraps the default one, counts the file calls a
// scenario makes, and fails the Nth of them, once or from then on, the way
// SQLite's own I/O-error and disk-full tests do. While the object lives it is
// the default VFS, so every connection opened meanwhile (the component's too)
// goes through it.
#pragma once

struct sqlite3_vfs;

namespace faultvfs {

// What an injected fault looks like to SQLite, and which calls it can hit:
//  IoError  - every counted call, with its own extended code (SQLITE_IOERR_WRITE,
//             SQLITE_IOERR_FSYNC, ..., SQLITE_CANTOPEN for an open);
//  DiskFull - writes, with SQLITE_FULL;
//  Busy     - locks, with SQLITE_BUSY (one-shot only: a lock that stays busy
//             would hold the caller in its busy handler for its whole timeout).
enum class EFault { IoError, DiskFull, Busy };

// The counted calls.
enum class EOp { Open, Delete, Access, Read, Write, Sync, Truncate, FileSize, Lock, Count };

const char* OpName(EOp eOp);
const char* FaultName(EFault eFault);

class CFaultVfs {
public:
    // bRealSync: pass syncs on to the disk. Off by default: these tests cut calls,
    // not power, and the flushes would make the loops slow.
    explicit CFaultVfs(bool bRealSync = false);
    ~CFaultVfs();
    CFaultVfs(const CFaultVfs&) = delete;
    CFaultVfs& operator=(const CFaultVfs&) = delete;

    // Starts counting afresh the calls eFault can hit; the nth of them (from 1)
    // fails, and with bPersistent every later one too. nFailAt 0 only counts.
    void Arm(EFault eFault, long long nFailAt, bool bPersistent);
    // Stops failing (counting goes on).
    void Disarm() { m_nFailAt = 0; }
    // Makes every sync take this much longer: a slow disk widens the windows
    // that other processes can fall into.
    void SetSyncDelay(int nMicroseconds) { m_nSyncDelayUs = nMicroseconds; }
    int SyncDelay() const { return m_nSyncDelayUs; }

    // Calls eFault could hit since Arm, and what the first injected fault hit.
    long long Calls() const { return m_nCalls; }
    EOp FirstFailedOp() const { return m_eFirstFailed; }

    // For the wrapper's functions: counts the call being made, and gives its
    // result code when it is to fail (0 when it goes through).
    int Intercept(EOp eOp);
    sqlite3_vfs* Real() const { return m_pReal; }
    bool RealSync() const { return m_bRealSync; }

private:
    bool m_bRealSync;
    int m_nSyncDelayUs = 0;
    sqlite3_vfs* m_pVfs;   // ours
    sqlite3_vfs* m_pReal;  // the default one we wrap
    EFault m_eFault = EFault::IoError;
    long long m_nFailAt = 0;
    bool m_bPersistent = false;
    long long m_nCalls = 0;
    EOp m_eFirstFailed = EOp::Count;
};

}  // namespace faultvfs
