#include "FaultVfs.h"

#include <sqlite3.h>

namespace faultvfs {

namespace {

// Our file: the wrapper's header, then the real VFS's file right behind it.
struct CFaultFile {
    sqlite3_file base;
    CFaultVfs* pOwner;
    sqlite3_file* pReal;
};

CFaultVfs* OwnerOf(sqlite3_vfs* pVfs) { return static_cast<CFaultVfs*>(pVfs->pAppData); }
sqlite3_vfs* RealVfs(sqlite3_vfs* pVfs) { return OwnerOf(pVfs)->Real(); }
CFaultFile* FileOf(sqlite3_file* pFile) { return reinterpret_cast<CFaultFile*>(pFile); }
sqlite3_file* RealOf(sqlite3_file* pFile) { return FileOf(pFile)->pReal; }
const sqlite3_io_methods* RealIo(sqlite3_file* pFile) { return RealOf(pFile)->pMethods; }

// A counted file call: it may fail before it reaches the disk.
template <typename TCall>
int Counted(sqlite3_file* pFile, EOp eOp, TCall call)
{
    const int rc = FileOf(pFile)->pOwner->Intercept(eOp);
    return rc != 0 ? rc : call(RealIo(pFile), RealOf(pFile));
}

// The file calls. Unlock, file controls and geometry always go through.
const sqlite3_io_methods s_ioMethods = [] {
    using Io = const sqlite3_io_methods*;
    // Version 1: no shared memory and no memory mapping, so that we see every read.
    sqlite3_io_methods m{};
    m.iVersion = 1;
    m.xClose = [](sqlite3_file* p) { return RealIo(p) != nullptr ? RealIo(p)->xClose(RealOf(p)) : SQLITE_OK; };
    m.xRead = [](sqlite3_file* p, void* pBuf, int cb, sqlite3_int64 n) {
        return Counted(p, EOp::Read, [&](Io io, sqlite3_file* f) { return io->xRead(f, pBuf, cb, n); });
    };
    m.xWrite = [](sqlite3_file* p, const void* pBuf, int cb, sqlite3_int64 n) {
        return Counted(p, EOp::Write, [&](Io io, sqlite3_file* f) { return io->xWrite(f, pBuf, cb, n); });
    };
    m.xTruncate = [](sqlite3_file* p, sqlite3_int64 cb) {
        return Counted(p, EOp::Truncate, [&](Io io, sqlite3_file* f) { return io->xTruncate(f, cb); });
    };
    m.xSync = [](sqlite3_file* p, int nFlags) {
        CFaultVfs* pOwner = FileOf(p)->pOwner;
        return Counted(p, EOp::Sync, [&](Io io, sqlite3_file* f) {
            if (pOwner->SyncDelay() > 0) {
                pOwner->Real()->xSleep(pOwner->Real(), pOwner->SyncDelay());
            }
            return pOwner->RealSync() ? io->xSync(f, nFlags) : SQLITE_OK;
        });
    };
    m.xFileSize = [](sqlite3_file* p, sqlite3_int64* pcb) {
        return Counted(p, EOp::FileSize, [&](Io io, sqlite3_file* f) { return io->xFileSize(f, pcb); });
    };
    m.xLock = [](sqlite3_file* p, int n) {
        return Counted(p, EOp::Lock, [&](Io io, sqlite3_file* f) { return io->xLock(f, n); });
    };
    m.xUnlock = [](sqlite3_file* p, int n) { return RealIo(p)->xUnlock(RealOf(p), n); };
    m.xCheckReservedLock = [](sqlite3_file* p, int* pb) { return RealIo(p)->xCheckReservedLock(RealOf(p), pb); };
    m.xFileControl = [](sqlite3_file* p, int n, void* pArg) { return RealIo(p)->xFileControl(RealOf(p), n, pArg); };
    m.xSectorSize = [](sqlite3_file* p) { return RealIo(p)->xSectorSize(RealOf(p)); };
    m.xDeviceCharacteristics = [](sqlite3_file* p) { return RealIo(p)->xDeviceCharacteristics(RealOf(p)); };
    return m;
}();

int VfsOpen(sqlite3_vfs* pVfs, const char* pszName, sqlite3_file* pFile, int nFlags, int* pnOutFlags)
{
    CFaultFile* pOurs = FileOf(pFile);
    pOurs->base.pMethods = nullptr;  // SQLite closes only a file whose methods are set
    pOurs->pOwner = OwnerOf(pVfs);
    pOurs->pReal = reinterpret_cast<sqlite3_file*>(pOurs + 1);
    pOurs->pReal->pMethods = nullptr;
    if (const int rc = pOurs->pOwner->Intercept(EOp::Open)) {
        return rc;
    }
    const int rc = RealVfs(pVfs)->xOpen(RealVfs(pVfs), pszName, pOurs->pReal, nFlags, pnOutFlags);
    if (pOurs->pReal->pMethods != nullptr) {
        pOurs->base.pMethods = &s_ioMethods;
    }
    return rc;
}

// Per counted call, in the order of EOp: the code an I/O error on it gives.
const int s_ioErrors[] = {SQLITE_CANTOPEN,       SQLITE_IOERR_DELETE, SQLITE_IOERR_ACCESS,
                          SQLITE_IOERR_READ,     SQLITE_IOERR_WRITE,  SQLITE_IOERR_FSYNC,
                          SQLITE_IOERR_TRUNCATE, SQLITE_IOERR_FSTAT,  SQLITE_IOERR_LOCK};

}  // namespace

const char* FaultName(EFault eFault)
{
    return eFault == EFault::IoError ? "I/O error" : eFault == EFault::DiskFull ? "disk full" : "busy";
}

CFaultVfs::CFaultVfs(bool bRealSync)
    : m_bRealSync(bRealSync), m_pVfs(new sqlite3_vfs()), m_pReal(sqlite3_vfs_find(nullptr))
{
    sqlite3_vfs& v = *m_pVfs;
    v.iVersion = 1;  // SQLite falls back to xCurrentTime
    v.szOsFile = static_cast<int>(sizeof(CFaultFile)) + m_pReal->szOsFile;
    v.mxPathname = m_pReal->mxPathname;
    v.zName = "brellin-fault";
    v.pAppData = this;
    v.xOpen = VfsOpen;
    v.xDelete = [](sqlite3_vfs* p, const char* pszName, int bSyncDir) {
        const int rc = OwnerOf(p)->Intercept(EOp::Delete);
        return rc != 0 ? rc : RealVfs(p)->xDelete(RealVfs(p), pszName, OwnerOf(p)->RealSync() ? bSyncDir : 0);
    };
    v.xAccess = [](sqlite3_vfs* p, const char* pszName, int nFlags, int* pbOut) {
        const int rc = OwnerOf(p)->Intercept(EOp::Access);
        return rc != 0 ? rc : RealVfs(p)->xAccess(RealVfs(p), pszName, nFlags, pbOut);
    };
    // The rest passes through; loading extensions is never asked for.
    v.xFullPathname = [](sqlite3_vfs* p, const char* z, int cb, char* pOut) {
        return RealVfs(p)->xFullPathname(RealVfs(p), z, cb, pOut);
    };
    v.xRandomness = [](sqlite3_vfs* p, int cb, char* pOut) { return RealVfs(p)->xRandomness(RealVfs(p), cb, pOut); };
    v.xSleep = [](sqlite3_vfs* p, int nUs) { return RealVfs(p)->xSleep(RealVfs(p), nUs); };
    v.xCurrentTime = [](sqlite3_vfs* p, double* pd) { return RealVfs(p)->xCurrentTime(RealVfs(p), pd); };
    v.xGetLastError = [](sqlite3_vfs* p, int cb, char* z) { return RealVfs(p)->xGetLastError(RealVfs(p), cb, z); };
    sqlite3_vfs_register(m_pVfs, 1);
}

CFaultVfs::~CFaultVfs()
{
    sqlite3_vfs_unregister(m_pVfs);
    sqlite3_vfs_register(m_pReal, 1);
    delete m_pVfs;
}

void CFaultVfs::Arm(EFault eFault, long long nFailAt, bool bPersistent)
{
    m_eFault = eFault;
    m_nFailAt = nFailAt;
    m_bPersistent = bPersistent && eFault != EFault::Busy;
    m_nCalls = 0;
}

int CFaultVfs::Intercept(EOp eOp)
{
    const bool bEligible = m_eFault == EFault::IoError || (m_eFault == EFault::DiskFull && eOp == EOp::Write) ||
                           (m_eFault == EFault::Busy && eOp == EOp::Lock);
    if (!bEligible) {
        return 0;
    }
    ++m_nCalls;
    if (m_nFailAt <= 0 || m_nCalls < m_nFailAt || (m_nCalls > m_nFailAt && !m_bPersistent)) {
        return 0;
    }
    return m_eFault == EFault::DiskFull ? SQLITE_FULL
           : m_eFault == EFault::Busy   ? SQLITE_BUSY
                                        : s_ioErrors[static_cast<int>(eOp)];
}

}  // namespace faultvfs
