// A test VFS wrapping the default one: counts the file calls and fails the Nth of
// them, once or from then on. While it lives it is the default VFS.
#pragma once

struct sqlite3_vfs;

namespace faultvfs {

// IoError hits every counted call, DiskFull writes, Busy locks (one-shot only: a
// lock that stays busy would hold the caller in its busy handler).
enum class EFault { IoError, DiskFull, Busy };

enum class EOp { Open, Delete, Access, Read, Write, Sync, Truncate, FileSize, Lock, Count };

const char* FaultName(EFault eFault);

class CFaultVfs {
public:
    // bRealSync: pass syncs on to the disk (off: the tests cut calls, not power).
    explicit CFaultVfs(bool bRealSync = false);
    ~CFaultVfs();
    CFaultVfs(const CFaultVfs&) = delete;
    CFaultVfs& operator=(const CFaultVfs&) = delete;

    // Starts counting afresh the calls eFault can hit; the nth of them (from 1)
    // fails, and with bPersistent every later one too. nFailAt 0 only counts.
    void Arm(EFault eFault, long long nFailAt, bool bPersistent);
    void Disarm() { m_nFailAt = 0; }  // stops failing; counting goes on
    // Slows every sync: a slow disk widens the windows other processes can fall into.
    void SetSyncDelay(int nMicroseconds) { m_nSyncDelayUs = nMicroseconds; }
    int SyncDelay() const { return m_nSyncDelayUs; }

    long long Calls() const { return m_nCalls; }  // calls eFault could hit since Arm

    int Intercept(EOp eOp);  // counts a call; its result code when it is to fail, else 0
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
};

}  // namespace faultvfs
