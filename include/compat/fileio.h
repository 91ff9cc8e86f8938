// Whole-file reading and replacing, and directory trees, on both platforms: the
// settings file, the registry file and the reference host's exports share them.
//
// Narrow paths are the file system's own bytes off Windows; on Windows they are in
// the ANSI code page, as the settings file names them.
#pragma once

#include <cstddef>
#include <string>

#include "compat/wstr.h"

namespace compat {

// Reads the whole file into strContent. False when it cannot be opened (pbOpened,
// when given, says which) or a read fails; strContent then holds what was read
// before the failure, and errno its cause. A directory where the file should be
// fails with EISDIR on both platforms.
WSTR_API bool ReadWholeFile(const std::string& strPath, std::string& strContent, bool* pbOpened = nullptr);

// Writes all cb bytes to the descriptor, writing again after a short or
// interrupted write. False at the first write that fails, errno holding its cause.
WSTR_API bool WriteAll(int fd, const void* pData, size_t cb);

// The steps of ReplaceWholeFile, in order, for a test hook that fails any of them.
enum class EWriteStep { Create, Write, Flush, Rename };
typedef bool (*PFN_WRITE_STEP_HOOK)(void* pContext, EWriteStep eStep);

struct CReplaceFileOptions {
    bool bKeepMode = false;        // the new file keeps the old one's permission bits (POSIX)
    bool bSweepAbandoned = false;  // remove temporary files of writers that died part way (POSIX)
    // Tests only: write this many bytes and then fail (negative: never), and ask
    // the hook before each step; false from it fails the step as the disk would.
    long long cbFailAfter = -1;
    PFN_WRITE_STEP_HOOK pfnStepHook = nullptr;
    void* pStepHookContext = nullptr;
};

// Replaces the file with strBytes: they go to a temporary file of this writer's
// own beside it ("<path>.tmp.<process>.<n>"), are flushed to disk, and the
// temporary file is renamed over the target (replacing it on Windows too). On
// failure the old file is left as it was, the temporary file is removed, false is
// returned and errno holds the cause of the first step that failed (0 when only
// an injected failure stopped it); a directory where the file should be gives EISDIR.
WSTR_API bool ReplaceWholeFile(const std::string& strPath, const std::string& strBytes,
                               const CReplaceFileOptions& options = CReplaceFileOptions());

// Creates every missing level of a directory path, the last one included; '/' and
// the platform's separator both divide levels. Levels that exist are passed over,
// and a level that cannot be made is left for the caller's next step to notice.
WSTR_API void CreateDirectoryTree(const WString& strPath);

#ifdef _WIN32
// The UTF-16 form of a narrow path (ANSI code page).
WSTR_API std::wstring WidePath(const std::string& strPath);
#endif

}  // namespace compat
