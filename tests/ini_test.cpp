// The INI reader and writer: the golden cases in tests/ini, the changes that
// SetValue and DeleteRecord make, and writers killed or racing. Failed rewrites and
// missing files: ini_fault_test and config_media_test.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "config/IniFile.h"

using namespace testing_support;

namespace {

using Names = std::vector<std::string>;
const std::string kCasesDir = CALSTORE_INI_CASES_DIR, kChangesDir = kCasesDir + "/changes";

std::string FileBytes(const std::string& strPath)
{
    std::string strContent;
    EXPECT_TRUE(ReadFile(strPath, strContent)) << strPath;
    return strContent;
}

// Every "<name><ext>" in strDir (names fit test names).
Names CaseNames(const std::string& strDir = kCasesDir, const std::string& strExt = ".ini")
{
    Names names;
    for (const std::string& strFile : ListDir(strDir)) {
        const size_t cch = strFile.size() - std::min(strFile.size(), strExt.size());
        if (strFile.size() > strExt.size() && strFile.compare(cch, std::string::npos, strExt) == 0) {
            names.push_back(strFile.substr(0, cch));
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

// One line per record: 'commentChar'|section|key|value|comments. In the fields
// backslash, "|", LF, CR and tab are escaped by name, other control bytes as \xHH;
// other bytes (UTF-8 included) stand as they are.
std::string Dump(const std::vector<IniRecord>& content)
{
    const auto escape = [](const std::string& str) {
        std::string strOut;
        for (const char ch : str) {
            const unsigned char uch = static_cast<unsigned char>(ch);
            const size_t nNamed = std::string("\\|\n\r\t").find(ch);
            char szOther[8];
            std::snprintf(szOther, sizeof szOther, uch < 0x20 || uch == 0x7F ? "\\x%02x" : "%c", uch);
            strOut += nNamed != std::string::npos ? std::string{'\\', "\\|nrt"[nNamed]} : std::string(szOther);
        }
        return strOut;
    };
    std::string strOut;
    for (const IniRecord& rec : content) {
        strOut += "'" + escape(std::string(1, rec.commentChar)) + "'|" + escape(rec.section) + "|" + escape(rec.key) +
                  "|" + escape(rec.value) + "|" + escape(rec.comments) + "\n";
    }
    return strOut;
}

class IniGoldenTest : public ::testing::TestWithParam<std::string> {};

// Load gives the records and Save the bytes (reading a missing .records or .written
// fails the case); what Save wrote comes out again from another load and save.
TEST_P(IniGoldenTest, LoadsToTheRecordsAndWritesTheBytes)
{
    CTempDir dir;
    const std::string strCase = kCasesDir + "/" + GetParam(), strPath = dir.Join("case.ini");
    const std::string strWritten = FileBytes(strCase + ".written");
    ASSERT_TRUE(WriteFile(strPath, FileBytes(strCase + ".ini")));
    std::vector<IniRecord> content{IniRecord{"", ' ', "Before", "", ""}};  // Load replaces it all
    ASSERT_TRUE(IniFile::Load(strPath, content));
    EXPECT_EQ(Dump(content), FileBytes(strCase + ".records"));
    ASSERT_TRUE(IniFile::Save(strPath, content));
    EXPECT_EQ(FileBytes(strPath), strWritten);
    EXPECT_EQ(ListDir(dir.Path()), Names{"case.ini"});  // no temporary file left
    ASSERT_TRUE(IniFile::Load(strPath, content));
    ASSERT_TRUE(IniFile::Save(strPath, content));
    EXPECT_EQ(FileBytes(strPath), strWritten);
}

INSTANTIATE_TEST_SUITE_P(Cases, IniGoldenTest, ::testing::ValuesIn(CaseNames()),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });

TEST(IniGoldenCases, AreFound)  // a wrong directory would quietly run no case at all
{
    EXPECT_GE(CaseNames().size(), 20u) << kCasesDir;
    EXPECT_GE(CaseNames(kChangesDir, ".before").size(), 10u) << kChangesDir;
}

class IniFileTest : public ::testing::Test {
protected:
    std::string Bytes() { return FileBytes(m_strPath); }
    void Write(const std::string& strContent) { ASSERT_TRUE(WriteFile(m_strPath, strContent)); }

    CTempDir m_dir;
    const std::string m_strPath = m_dir.Join("settings.ini");
};

// The changes in tests/ini/changes: "<name>.before" is the file, each line of
// "<name>.steps" a SetValue ("section|key|value") or a DeleteRecord ("section|key"),
// which fails only when the record is missing, and "<name>.after" the file at the end.
class IniChangesTest : public ::testing::TestWithParam<std::string> {};

TEST_P(IniChangesTest, PutEachRecordInItsPlace)
{
    CTempDir dir;
    const std::string strCase = kChangesDir + "/" + GetParam(), strPath = dir.Join("settings.ini");
    ASSERT_TRUE(WriteFile(strPath, FileBytes(strCase + ".before")));
    std::istringstream steps(FileBytes(strCase + ".steps"));
    for (std::string strLine; std::getline(steps, strLine);) {
        SCOPED_TRACE(strLine);
        const size_t nKey = strLine.find('|'), nValue = strLine.find('|', nKey + 1);
        const std::string strSection = strLine.substr(0, nKey), strKey = strLine.substr(nKey + 1, nValue - nKey - 1);
        const std::string strValue = nValue == std::string::npos ? "" : strLine.substr(nValue + 1);
        const bool bExisted = IniFile::RecordExists(strKey, strSection, strPath);
        EXPECT_EQ(nValue != std::string::npos ? IniFile::SetValue(strKey, strValue, strSection, strPath)
                                              : IniFile::DeleteRecord(strKey, strSection, strPath),
                  nValue != std::string::npos || bExisted);
        EXPECT_EQ(IniFile::GetValue(strKey, strSection, strPath), strValue);
        EXPECT_EQ(ListDir(dir.Path()), Names{"settings.ini"});  // no temporary file left
    }
    EXPECT_EQ(FileBytes(strPath), FileBytes(strCase + ".after"));
}

INSTANTIATE_TEST_SUITE_P(Cases, IniChangesTest, ::testing::ValuesIn(CaseNames(kChangesDir, ".before")),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });

#ifndef _WIN32
// Lines enough that one write takes a moment.
std::string Filler()
{
    std::string str;
    for (int i = 0; i < 300; ++i) {
        str += " filler" + std::to_string(i) + "=" + std::string(60, static_cast<char>('a' + i % 26)) + "\r\n";
    }
    return str;
}

// A child process calling change(0), change(1), ... until it is killed (or a few
// seconds are up); returns once the child runs.
template <typename F>
pid_t SpawnWriter(F change)
{
    int fds[2];
    char ch = 'x';
    EXPECT_EQ(::pipe(fds), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const bool bRunning = ::write(fds[1], &ch, 1) == 1;
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; bRunning && std::chrono::steady_clock::now() - start < std::chrono::seconds(3); ++i) {
            change(i);
        }
        ::_exit(0);
    }
    EXPECT_TRUE(pid > 0 && ::read(fds[0], &ch, 1) == 1);
    ::close(fds[0]);
    ::close(fds[1]);
    return pid;
}
#endif

// A writer killed at a random moment, on the real path without test hooks: the file
// is always the old one or the new one, and the next write clears what the kill left.
// The file is rewritten whole in its place: its permissions are kept, and a temporary
// file left over from an earlier writer does not disturb it.
TEST_F(IniFileTest, KilledWriterLeavesTheOldOrTheNewFileWithItsPermissions)
{
#ifdef _WIN32
    GTEST_SKIP() << "forks writer processes";
#else
    const std::string strOld = " [S]\r\n k=old\r\n" + Filler(), strNew = " [S]\r\n k=new value\r\n" + Filler();
    Write(strOld);
    ASSERT_TRUE(WriteFile(m_strPath + ".tmp", std::string(4096, 'x')));
    ASSERT_EQ(0, ::chmod(m_strPath.c_str(), 0600));
    for (int nRound = 0; nRound < 8; ++nRound) {
        const pid_t pid = SpawnWriter([&](int i) {
            IniFile::SetValue("k", i % 2 ? "old" : "new value", "S", m_strPath);
        });
        std::this_thread::sleep_for(std::chrono::microseconds(300 + 700 * nRound));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        const std::string strBytes = Bytes();
        EXPECT_TRUE(strBytes == strOld || strBytes == strNew) << "round " << nRound << ", size " << strBytes.size();
    }
    ASSERT_TRUE(IniFile::SetValue("k", "old", "S", m_strPath));
    EXPECT_EQ(Bytes(), strOld);
    Names names = ListDir(m_dir.Path());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (Names{"settings.ini", "settings.ini.tmp"}));
    struct stat st {};
    ASSERT_EQ(0, ::stat(m_strPath.c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 07777);
#endif
}

// Two writers at once may lose each other's change, but a reader must always find a
// whole file: each writer has a temporary file of its own.
TEST_F(IniFileTest, ConcurrentWritersNeverPublishAPartialFile)
{
#ifdef _WIN32
    GTEST_SKIP() << "forks writer processes";
#else
    const std::string strFiller = Filler();
    Write(" [S]\r\n" + strFiller);
    const auto write = [&](const char* pszKey, int i) {
        IniFile::SetValue(pszKey, std::string(1 + i % 7 * 40, 'v'), "S", m_strPath);
    };
    const pid_t pids[] = {SpawnWriter([&](int i) { write("a", i); }), SpawnWriter([&](int i) { write("b", i); })};
    int nPartial = 0;
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(400)) {
        const std::string strBytes = Bytes();
        const std::string strFillers = strBytes.substr(std::min(strBytes.find(" filler0="), strBytes.size()));
        nPartial += strFillers != strFiller || strBytes.find('\0') != std::string::npos;
    }
    for (const pid_t pid : pids) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    EXPECT_EQ(nPartial, 0);
#endif
}

}  // namespace
