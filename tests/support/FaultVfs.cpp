#include "FaultVfs.h"

#include <sqlite3.h>

#include <cstdlib>
#include <cstring>

namespace faultvfs {

namespace {

// Our file: the wrapper's header, then the real VFS's file right behind it.
struct CFaultFile {
    sqlite3_file base;
    CFaultVfs* pOwner;
    sqlite3_file* pReal;
};

CFaultVfs* OwnerOf(sqlite3_vfs* pVfs) { return static_cast<CFaultVfs*>(pVfs->pAppData); }
CFaultFile* FileOf(sqlite3_file* pFile) { return reinterpret_cast<CFaultFile*>(pFile); }
sqlite3_file* RealOf(sqlite3_file* pFile) { return FileOf(pFile)->pReal; }
const sqlite3_io_methods* RealIo(sqlite3_file* pFile) { return RealOf(pFile)->pMethods; }

int Fail(sqlite3_file* pFile, EOp eOp) { return FileOf(pFile)->pOwner->Intercept(eOp); }

// The file calls. Counted ones may fail before they reach the disk; the rest
// (unlock, file controls, geometry) always go through.
int FileClose(sqlite3_file* pFile)
{
    return RealIo(pFile) != nullptr ? RealIo(pFile)->xClose(RealOf(pFile)) : SQLITE_OK;
}
int FileRead(sqlite3_file* pFile, void* pBuf, int cb, sqlite3_int64 nOffset)
{
    const int rc = Fail(pFile, EOp::Read);
    return rc != 0 ? rc : RealIo(pFile)->xRead(RealOf(pFile), pBuf, cb, nOffset);
}
int FileWrite(sqlite3_file* pFile, const void* pBuf, int cb, sqlite3_int64 nOffset)
{
    const int rc = Fail(pFile, EOp::Write);
    return rc != 0 ? rc : RealIo(pFile)->xWrite(RealOf(pFile), pBuf, cb, nOffset);
}
int FileTruncate(sqlite3_file* pFile, sqlite3_int64 cbSize)
{
    const int rc = Fail(pFile, EOp::Truncate);
    return rc != 0 ? rc : RealIo(pFile)->xTruncate(RealOf(pFile), cbSize);
}
int FileSync(sqlite3_file* pFile, int nFlags)
{
    const int rc = Fail(pFile, EOp::Sync);
    CFaultVfs* pOwner = FileOf(pFile)->pOwner;
    if (rc == 0 && pOwner->SyncDelay() > 0) {
        pOwner->Real()->xSleep(pOwner->Real(), pOwner->SyncDelay());
    }
    if (rc != 0 || !FileOf(pFile)->pOwner->RealSync()) {
        return rc;
    }
    return RealIo(pFile)->xSync(RealOf(pFile), nFlags);
}
int FileSize(sqlite3_file* pFile, sqlite3_int64* pcbSize)
{
    const int rc = Fail(pFile, EOp::FileSize);
    return rc != 0 ? rc : RealIo(pFile)->xFileSize(RealOf(pFile), pcbSize);
}
int FileLock(sqlite3_file* pFile, int nLevel)
{
    const int rc = Fail(pFile, EOp::Lock);
    return rc != 0 ? rc : RealIo(pFile)->xLock(RealOf(pFile), nLevel);
}
int FileUnlock(sqlite3_file* pFile, int nLevel) { return RealIo(pFile)->xUnlock(RealOf(pFile), nLevel); }
int FileCheckReservedLock(sqlite3_file* pFile, int* pbOut)
{
    return RealIo(pFile)->xCheckReservedLock(RealOf(pFile), pbOut);
}
int FileControl(sqlite3_file* pFile, int nOp, void* pArg)
{
    return RealIo(pFile)->xFileControl(RealOf(pFile), nOp, pArg);
}
int FileSectorSize(sqlite3_file* pFile) { return RealIo(pFile)->xSectorSize(RealOf(pFile)); }
int FileDeviceCharacteristics(sqlite3_file* pFile) { return RealIo(pFile)->xDeviceCharacteristics(RealOf(pFile)); }

// Version 1: no shared memory (rollback journal only) and no memory mapping,
// so that every read of the file is a call we see.
const sqlite3_io_methods s_ioMethods = [] {
    sqlite3_io_methods methods{};
    methods.iVersion = 1;
    methods.xClose = FileClose;
    methods.xRead = FileRead;
    methods.xWrite = FileWrite;
    methods.xTruncate = FileTruncate;
    methods.xSync = FileSync;
    methods.xFileSize = FileSize;
    methods.xLock = FileLock;
    methods.xUnlock = FileUnlock;
    methods.xCheckReservedLock = FileCheckReservedLock;
    methods.xFileControl = FileControl;
    methods.xSectorSize = FileSectorSize;
    methods.xDeviceCharacteristics = FileDeviceCharacteristics;
    return methods;
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
    sqlite3_vfs* pReal = pOurs->pOwner->Real();
    const int rc = pReal->xOpen(pReal, pszName, pOurs->pReal, nFlags, pnOutFlags);
    if (pOurs->pReal->pMethods != nullptr) {
        pOurs->base.pMethods = &s_ioMethods;
    }
    return rc;
}
int VfsDelete(sqlite3_vfs* pVfs, const char* pszName, int bSyncDir)
{
    if (const int rc = OwnerOf(pVfs)->Intercept(EOp::Delete)) {
        return rc;
    }
    sqlite3_vfs* pReal = OwnerOf(pVfs)->Real();
    return pReal->xDelete(pReal, pszName, OwnerOf(pVfs)->RealSync() ? bSyncDir : 0);
}
int VfsAccess(sqlite3_vfs* pVfs, const char* pszName, int nFlags, int* pbOut)
{
    if (const int rc = OwnerOf(pVfs)->Intercept(EOp::Access)) {
        return rc;
    }
    sqlite3_vfs* pReal = OwnerOf(pVfs)->Real();
    return pReal->xAccess(pReal, pszName, nFlags, pbOut);
}

// The rest only passes through to the real VFS.
int VfsFullPathname(sqlite3_vfs* pVfs, const char* pszName, int cbOut, char* pszOut)
{
    sqlite3_vfs* pReal = OwnerOf(pVfs)->Real();
    return pReal->xFullPathname(pReal, pszName, cbOut, pszOut);
}
void* VfsDlOpen(sqlite3_vfs* pVfs, const char* pszName)
{
    sqlite3_vfs* pReal = OwnerOf(pVfs)->Real();
    return pReal->xDlOpen(pReal, pszName);
}
void VfsDlError(sqlite3_vfs* pVfs, int cb, char* pszOut)
{
    sqlite3_vfs* pReal = OwnerOf(pVfs)->Real();
    pReal->xDlError(pReal, cb, pszOut);
}
void (*VfsDlSym(sqlite3_vfs* pVfs, void* pHandle, const char* pszSymbol))(void)
{
    sqlite3_vfs* pReal = OwnerOf(pVfs)->Real();
    return pReal->xDlSym(pReal, pHandle, pszSymbol);
}
void VfsDlClose(sqlite3_vfs* pVfs, void* pHandle)
{
    sqlite3_vfs* pReal = OwnerOf(pVfs)->Real();
    pReal->xDlClose(pReal, pHandle);
}
int VfsRandomness(sqlite3_vfs* pVfs, int cb, char* pOut)
{
    sqlite3_vfs* pReal = OwnerOf(pVfs)->Real();
    return pReal->xRandomness(pReal, cb, pOut);
}
int VfsSleep(sqlite3_vfs* pVfs, int nMicroseconds)
{
    sqlite3_vfs* pReal = OwnerOf(pVfs)->Real();
    return pReal->xSleep(pReal, nMicroseconds);
}
int VfsCurrentTime(sqlite3_vfs* pVfs, double* pdNow)
{
    sqlite3_vfs* pReal = OwnerOf(pVfs)->Real();
    return pReal->xCurrentTime(pReal, pdNow);
}
int VfsGetLastError(sqlite3_vfs* pVfs, int cb, char* pszOut)
{
    sqlite3_vfs* pReal = OwnerOf(pVfs)->Real();
    return pReal->xGetLastError != nullptr ? pReal->xGetLastError(pReal, cb, pszOut) : 0;
}
int VfsCurrentTimeInt64(sqlite3_vfs* pVfs, sqlite3_int64* pnNow)
{
    sqlite3_vfs* pReal = OwnerOf(pVfs)->Real();
    if (pReal->iVersion >= 2 && pReal->xCurrentTimeInt64 != nullptr) {
        return pReal->xCurrentTimeInt64(pReal, pnNow);
    }
    double dNow = 0;
    const int rc = pReal->xCurrentTime(pReal, &dNow);
    *pnNow = static_cast<sqlite3_int64>(dNow * 86400000.0);
    return rc;
}

int IoErrorCode(EOp eOp)
{
    switch (eOp) {
    case EOp::Open: return SQLITE_CANTOPEN;
    case EOp::Delete: return SQLITE_IOERR_DELETE;
    case EOp::Access: return SQLITE_IOERR_ACCESS;
    case EOp::Read: return SQLITE_IOERR_READ;
    case EOp::Write: return SQLITE_IOERR_WRITE;
    case EOp::Sync: return SQLITE_IOERR_FSYNC;
    case EOp::Truncate: return SQLITE_IOERR_TRUNCATE;
    case EOp::FileSize: return SQLITE_IOERR_FSTAT;
    case EOp::Lock: return SQLITE_IOERR_LOCK;
    case EOp::Count: break;
    }
    return SQLITE_IOERR;
}

}  // namespace

const char* OpName(EOp eOp)
{
    static const char* const s_names[] = {"open", "delete", "access", "read", "write",
                                          "sync", "truncate", "size", "lock", "-"};
    return s_names[static_cast<int>(eOp)];
}

const char* FaultName(EFault eFault)
{
    return eFault == EFault::IoError ? "I/O error" : eFault == EFault::DiskFull ? "disk full" : "busy";
}

CFaultVfs::CFaultVfs(bool bRealSync) : m_pVfs(new sqlite3_vfs()), m_pReal(sqlite3_vfs_find(nullptr)), m_bRealSync(bRealSync)
{
    if (m_pReal == nullptr) {
        std::abort();
    }
    *m_pVfs = sqlite3_vfs{};
    m_pVfs->iVersion = 2;
    m_pVfs->szOsFile = static_cast<int>(sizeof(CFaultFile)) + m_pReal->szOsFile;
    m_pVfs->mxPathname = m_pReal->mxPathname;
    m_pVfs->zName = "brellin-fault";
    m_pVfs->pAppData = this;
    m_pVfs->xOpen = VfsOpen;
    m_pVfs->xDelete = VfsDelete;
    m_pVfs->xAccess = VfsAccess;
    m_pVfs->xFullPathname = VfsFullPathname;
    m_pVfs->xDlOpen = VfsDlOpen;
    m_pVfs->xDlError = VfsDlError;
    m_pVfs->xDlSym = VfsDlSym;
    m_pVfs->xDlClose = VfsDlClose;
    m_pVfs->xRandomness = VfsRandomness;
    m_pVfs->xSleep = VfsSleep;
    m_pVfs->xCurrentTime = VfsCurrentTime;
    m_pVfs->xGetLastError = VfsGetLastError;
    m_pVfs->xCurrentTimeInt64 = VfsCurrentTimeInt64;
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
    m_nInjected = 0;
    m_eFirstFailed = EOp::Count;
}

void CFaultVfs::Disarm()
{
    m_nFailAt = 0;
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
    if (m_nInjected++ == 0) {
        m_eFirstFailed = eOp;
    }
    switch (m_eFault) {
    case EFault::DiskFull: return SQLITE_FULL;
    case EFault::Busy: return SQLITE_BUSY;
    case EFault::IoError: break;
    }
    return IoErrorCode(eOp);
}

}  // namespace faultvfs
