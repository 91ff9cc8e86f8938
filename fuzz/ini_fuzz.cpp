// libFuzzer target for the INI reader and writer: any bytes as a settings file,
// read, written back, read again, then changed and looked up through a section
// and key taken from the input. It checks only that nothing crashes and that what
// Save wrote can be loaded.
#include <sys/stat.h>
#include <unistd.h>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/IniFile.h"

namespace {

std::string s_strDir;
std::string s_strPath;

void RemoveScratch()
{
    ::unlink(s_strPath.c_str());
    ::unlink((s_strPath + ".tmp").c_str());
    ::rmdir(s_strDir.c_str());
}

// A private directory, on tmpfs when there is one: every Save syncs its file.
const std::string& ScratchPath()
{
    if (s_strPath.empty()) {
        struct stat st {};
        const char* pszTmp = std::getenv("TMPDIR");
        std::string strBase = pszTmp != nullptr && *pszTmp != 0 ? pszTmp : "/tmp";
        if (pszTmp == nullptr && ::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode)) {
            strBase = "/dev/shm";
        }
        std::string strTemplate = strBase + "/ini_fuzz.XXXXXX";
        if (::mkdtemp(&strTemplate[0]) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        s_strDir = strTemplate;
        s_strPath = s_strDir + "/fuzz.ini";
        std::atexit(RemoveScratch);
    }
    return s_strPath;
}

// The bytes up to the next line feed (at most 32), consumed from the input.
std::string TakeField(const uint8_t*& pData, size_t& cbLeft)
{
    std::string str;
    while (cbLeft > 0 && str.size() < 32) {
        const char ch = static_cast<char>(*pData++);
        --cbLeft;
        if (ch == '\n') {
            break;
        }
        str += ch;
    }
    return str;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cbData)
{
    const std::string& strPath = ScratchPath();
    FILE* pFile = std::fopen(strPath.c_str(), "wb");
    if (pFile == nullptr) {
        std::abort();
    }
    if (cbData > 0 && std::fwrite(pData, 1, cbData, pFile) != cbData) {
        std::abort();
    }
    std::fclose(pFile);

    std::vector<IniRecord> content;
    if (!IniFile::Load(strPath, content)) {
        std::abort();
    }
    if (!IniFile::Save(strPath, content)) {
        std::abort();
    }
    std::vector<IniRecord> reread;
    if (!IniFile::Load(strPath, reread)) {
        std::abort();
    }

    // Once a key that exists (when there is one), once one made of input bytes.
    if (!reread.empty()) {
        const IniRecord& rec = reread[cbData % reread.size()];
        IniFile::SetValue(rec.key, "fuzz", rec.section, strPath);
        IniFile::GetValue(rec.key, rec.section, strPath);
        IniFile::DeleteRecord(rec.key, rec.section, strPath);
    }
    const uint8_t* pRest = pData;
    size_t cbRest = cbData;
    const std::string strSection = TakeField(pRest, cbRest);
    const std::string strKey = TakeField(pRest, cbRest);
    const std::string strValue = TakeField(pRest, cbRest);
    IniFile::SetValue(strKey, strValue, strSection, strPath);
    IniFile::GetValue(strKey, strSection, strPath);
    IniFile::SectionExists(strSection, strPath);
    IniFile::RecordExists(strKey, strSection, strPath);
    IniFile::DeleteRecord(strKey, strSection, strPath);
    if (!IniFile::Load(strPath, reread)) {
        std::abort();
    }
    return 0;
}
