// The Win32/COM compatibility layer and our UTF-16 helpers, checked against the
// behaviour that component code written for Windows relies on.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "TestSupport.h"

using namespace testing_support;

namespace {

// "hé😀": one-, two- and four-byte sequences; the last one is a surrogate pair in UTF-16.
const char kUtf8Sample[] = "h\xC3\xA9\xF0\x9F\x98\x80";
const WCHAR kUtf16Sample[] = u"h\u00E9\U0001F600";

// The call fails and leaves this last error.
#define EXPECT_FAILS_WITH(call, dwError)           \
    do {                                           \
        SetLastError(ERROR_SUCCESS);               \
        EXPECT_FALSE(call);                        \
        EXPECT_EQ(GetLastError(), DWORD(dwError)); \
    } while (false)

// Formats into a roomy buffer and checks that the returned length matches what was written.
template <typename... Args>
std::string Fmt(const WCHAR* pszFormat, Args... args)
{
    WCHAR szBuffer[512];
    const int cch = WStrFormat(szBuffer, 512, pszFormat, args...);
    EXPECT_EQ(static_cast<size_t>(cch), WStrLen(szBuffer));
    return Narrow(szBuffer);
}

}  // namespace

// A DWORD byte count before the text and a terminator after it, whatever the source:
// a string, an empty one, none (zeros), embedded zeros, the prefix of a longer one.
TEST(CompatBstr, KeepsWindowsLayout)
{
    const WCHAR szEmbedded[] = {u'a', 0, u'b'};
    const std::vector<std::pair<BSTR, WString>> made = {{SysAllocString(u"abc"), u"abc"},
                                                        {SysAllocString(u""), u""},
                                                        {SysAllocStringLen(nullptr, 4), WString(4, 0)},
                                                        {SysAllocStringLen(szEmbedded, 3), WString(szEmbedded, 3)},
                                                        {SysAllocStringLen(u"abcdef", 2), u"ab"}};
    for (const auto& [bstr, strExpected] : made) {
        SCOPED_TRACE(Narrow(strExpected) + ", " + std::to_string(strExpected.size()) + " units");
        ASSERT_NE(bstr, nullptr);
        DWORD cbStored = 0;
        std::memcpy(&cbStored, reinterpret_cast<const char*>(bstr) - sizeof(DWORD), sizeof(DWORD));
        EXPECT_EQ(cbStored, 2 * strExpected.size());
        EXPECT_EQ(SysStringLen(bstr), strExpected.size());
        EXPECT_EQ(SysStringByteLen(bstr), 2 * strExpected.size());
        EXPECT_EQ(WString(bstr, strExpected.size() + 1), strExpected + WCHAR(0));
        SysFreeString(bstr);
    }
    // Null is harmless.
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysStringByteLen(nullptr), 0u);
    SysFreeString(nullptr);
}

TEST(CompatCodePage, SizesCopiesAndInvalidInput)
{
    for (UINT uCodePage : {UINT(CP_ACP), UINT(CP_UTF8)}) {
        SCOPED_TRACE(uCodePage);
        EXPECT_EQ(MultiByteToWideChar(uCodePage, 0, kUtf8Sample, -1, nullptr, 0), 5);
        EXPECT_EQ(MultiByteToWideChar(uCodePage, 0, kUtf8Sample, 7, nullptr, 0), 4);
        WCHAR szWide[8] = {};
        ASSERT_EQ(MultiByteToWideChar(uCodePage, 0, kUtf8Sample, -1, szWide, 5), 5);
        EXPECT_EQ(WStrCmp(szWide, kUtf16Sample), 0);
        EXPECT_FAILS_WITH(MultiByteToWideChar(uCodePage, 0, kUtf8Sample, -1, szWide, 4), ERROR_INSUFFICIENT_BUFFER);

        EXPECT_EQ(WideCharToMultiByte(uCodePage, 0, kUtf16Sample, -1, nullptr, 0, nullptr, nullptr), 8);
        EXPECT_EQ(WideCharToMultiByte(uCodePage, 0, kUtf16Sample, 4, nullptr, 0, nullptr, nullptr), 7);
        char szNarrow[16] = {};
        ASSERT_EQ(WideCharToMultiByte(uCodePage, 0, kUtf16Sample, -1, szNarrow, 8, nullptr, nullptr), 8);
        EXPECT_STREQ(szNarrow, kUtf8Sample);
        EXPECT_FAILS_WITH(WideCharToMultiByte(uCodePage, 0, kUtf16Sample, -1, szNarrow, 7, nullptr, nullptr),
                          ERROR_INSUFFICIENT_BUFFER);
    }

    // Invalid input: refused with an error code when asked to, else replaced by U+FFFD.
    WCHAR szWide[16];
    // A stray byte, an overlong form, an encoded surrogate and a truncated sequence ("\x62" is "b").
    for (const char* pszBad : {"a\xFF\x62", "\xC0\xAF", "\xED\xA0\x80", "x\xE6\x97"}) {
        SCOPED_TRACE(pszBad);
        EXPECT_FAILS_WITH(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, pszBad, -1, szWide, 16),
                          ERROR_NO_UNICODE_TRANSLATION);
    }
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, "a\xFF\x62", -1, szWide, 16), 4);
    EXPECT_EQ(WString(szWide, 4), WString(u"a\uFFFDb", 4));

    const WCHAR szLone[] = {u'a', 0xD800, u'b', 0};
    char szNarrow[16] = {};
    EXPECT_FAILS_WITH(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, szLone, -1, szNarrow, 16, nullptr, nullptr),
                      ERROR_NO_UNICODE_TRANSLATION);
    BOOL bUsedDefault = FALSE;
    EXPECT_GT(WideCharToMultiByte(CP_ACP, 0, szLone, -1, szNarrow, 16, nullptr, &bUsedDefault), 0);
    EXPECT_TRUE(bUsedDefault);
    EXPECT_STREQ(szNarrow, "a\xEF\xBF\xBD\x62");

    // A clean conversion must clear the flag, not just leave it alone.
    bUsedDefault = TRUE;
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"ok", -1, szNarrow, 16, nullptr, &bUsedDefault), 3);
    EXPECT_FALSE(bUsedDefault);

    // UTF-8 takes no default character at all.
    EXPECT_FAILS_WITH(WideCharToMultiByte(CP_UTF8, 0, u"ok", -1, szNarrow, 16, nullptr, &bUsedDefault),
                      ERROR_INVALID_PARAMETER);
    EXPECT_FAILS_WITH(WideCharToMultiByte(CP_UTF8, 0, u"ok", -1, szNarrow, 16, "?", nullptr), ERROR_INVALID_PARAMETER);
}

TEST(CompatFiles, CreateDirectoryCopyAndDelete)
{
    CTempDir dir;
    const auto contents = [](const std::string& strPath) {
        std::string strContent;
        EXPECT_TRUE(ReadFile(strPath, strContent)) << strPath;
        return strContent;
    };
    const WString strNew = Wide(dir.Join("new"));
    EXPECT_TRUE(CreateDirectoryW(strNew.c_str(), nullptr));
    EXPECT_FAILS_WITH(CreateDirectoryW(strNew.c_str(), nullptr), ERROR_ALREADY_EXISTS);
    EXPECT_FAILS_WITH(CreateDirectoryW(Wide(dir.Join("missing/child")).c_str(), nullptr), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(FileExists(dir.Join("missing")));

    const WString strSrc = Wide(dir.Join("src.bin")), strDst = Wide(dir.Join("dst.bin"));
    // Larger than one copy chunk, with zero bytes in it.
    std::string strFirst(200000, '\0');
    for (size_t i = 0; i < strFirst.size(); ++i) {
        strFirst[i] = static_cast<char>(i * 7);
    }
    ASSERT_TRUE(WriteFile(dir.Join("src.bin"), strFirst));
    ASSERT_TRUE(CopyFileW(strSrc.c_str(), strDst.c_str(), TRUE));
    EXPECT_TRUE(contents(dir.Join("dst.bin")) == strFirst);

    ASSERT_TRUE(WriteFile(dir.Join("src.bin"), "second"));
    EXPECT_FAILS_WITH(CopyFileW(strSrc.c_str(), strDst.c_str(), TRUE), ERROR_FILE_EXISTS);
    EXPECT_EQ(FileSize(dir.Join("dst.bin")), static_cast<long long>(strFirst.size()));
    // Replacing a longer file must not leave its tail behind.
    EXPECT_TRUE(CopyFileW(strSrc.c_str(), strDst.c_str(), FALSE));
    EXPECT_EQ(contents(dir.Join("dst.bin")), "second");
    EXPECT_FAILS_WITH(CopyFileW(Wide(dir.Join("absent")).c_str(), Wide(dir.Join("out")).c_str(), FALSE),
                      ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(FileExists(dir.Join("out")));
    for (BOOL bFailIfExists : {FALSE, TRUE}) {
        EXPECT_FALSE(CopyFileW(strSrc.c_str(), strSrc.c_str(), bFailIfExists));
        EXPECT_EQ(contents(dir.Join("src.bin")), "second");
    }

    // Names beyond ASCII.
    const std::string strSubdir = dir.Join("日历 Ünïcode"), strFile = strSubdir + "/événement😀.txt";
    ASSERT_TRUE(CreateDirectoryW(Wide(strSubdir).c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(strSrc.c_str(), Wide(strFile).c_str(), TRUE));
    EXPECT_EQ(contents(strFile), "second");
    EXPECT_TRUE(DeleteFileW(Wide(strFile).c_str()));
    EXPECT_FAILS_WITH(DeleteFileW(Wide(strFile).c_str()), ERROR_FILE_NOT_FOUND);
}

TEST(CompatTime, LocalTimeAndTickCount)
{
    SYSTEMTIME st{};
    GetLocalTime(&st);
    EXPECT_GE(st.wYear, 2020);
    EXPECT_LT(st.wYear, 2200);
    EXPECT_LT(st.wMilliseconds, 1000);
    // mktime would move any field out of its range (a 31st of June, a 13th month);
    // the weekday must belong to the date reported with it.
    const auto reported =
        std::make_tuple(st.wYear - 1900, st.wMonth - 1, int(st.wDay), int(st.wHour), int(st.wMinute), int(st.wSecond));
    std::tm tmDate{};
    auto fields = std::tie(tmDate.tm_year, tmDate.tm_mon, tmDate.tm_mday, tmDate.tm_hour, tmDate.tm_min, tmDate.tm_sec);
    fields = reported;
    tmDate.tm_isdst = -1;
    ASSERT_NE(std::mktime(&tmDate), time_t(-1));
    EXPECT_EQ(fields, reported);
    EXPECT_EQ(st.wDayOfWeek, tmDate.tm_wday);

    const DWORD dwStart = GetTickCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const DWORD dwElapsed = GetTickCount() - dwStart;
    EXPECT_GE(dwElapsed, 45u);
    EXPECT_LT(dwElapsed, 10000u);
}

TEST(CompatWStr, LengthCompareAndCopy)
{
    EXPECT_EQ(WStrLen(nullptr), 0u);
    EXPECT_EQ(WStrLen(u""), 0u);
    EXPECT_EQ(WStrLen(kUtf16Sample), 4u);
    // Null compares as empty; code units compare unsigned, so U+FFFF sorts after ASCII.
    const std::tuple<const WCHAR*, const WCHAR*, int> compares[] = {
        {nullptr, nullptr, 0}, {nullptr, u"", 0},   {nullptr, u"a", -1}, {u"a", nullptr, 1},  {u"abc", u"abc", 0},
        {u"abc", u"abd", -1},  {u"ab", u"abc", -1}, {u"b", u"abc", 1},   {u"\uFFFF", u"z", 1}};
    for (const auto& [pszA, pszB, nSign] : compares) {
        const int nResult = WStrCmp(pszA, pszB);
        EXPECT_EQ((nResult > 0) - (nResult < 0), nSign) << Narrow(pszA) << " : " << Narrow(pszB);
    }

    WCHAR szDest[16];
    std::fill_n(szDest, 16, u'#');
    EXPECT_EQ(WStrCopyN(szDest, 6, u"hello world"), 5u);
    EXPECT_EQ(WString(szDest, 7), WString(u"hello\0#", 7));
    // Both cut before a pair that does not fit whole.
    const WCHAR szPair[] = u"ab\U0001F600c";
    const std::pair<size_t, size_t> bounded[] = {{10, 5}, {7, 5}, {4, 4}, {3, 2}, {2, 2}, {0, 0}};
    for (const auto& [cchMax, cchExpected] : bounded) {
        SCOPED_TRACE(cchMax);
        EXPECT_EQ(WStrBoundedLength(szPair, 5, cchMax), cchExpected);
        EXPECT_EQ(WStrCopyN(szDest, cchMax + 1, szPair), cchExpected);
        EXPECT_EQ(WString(szDest), WString(szPair, cchExpected));
    }
    // No room at all, and no source.
    szDest[0] = u'#';
    EXPECT_EQ(WStrCopyN(szDest, 0, u"abc"), 0u);
    EXPECT_EQ(szDest[0], u'#');
    EXPECT_EQ(WStrCopyN(szDest, 8, nullptr), 0u);
    EXPECT_EQ(szDest[0], 0);
}

// Several conversions to a format: widths, padding, the extremes of int, null text.
TEST(CompatWStr, Format)
{
    EXPECT_EQ(Fmt(u"%d|%d|%d|%d|%d", 0, 42, -7, INT_MIN, INT_MAX), "0|42|-7|-2147483648|2147483647");
    EXPECT_EQ(Fmt(u"%05d|%5d|%-5d|%03d|%2d", -42, -42, -42, 7, 12345), "-0042|  -42|-42  |007|12345");
    EXPECT_EQ(Fmt(u"%u|%x|%X|%08X", 4294967295u, 0xBEEFu, 255u, 0xABCu), "4294967295|beef|FF|00000ABC");
    // A pointer shows all its hex digits, in capitals.
    EXPECT_EQ(Fmt(u"%p", reinterpret_cast<void*>(uintptr_t(0xABCDEF))),
              std::string(2 * sizeof(void*) - 6, '0') + "ABCDEF");
    EXPECT_EQ(Fmt(u"[%s][%4s][%-4s][%s]", static_cast<const WCHAR*>(nullptr), u"ab", u"ab", u"日历\U0001F600"),
              "[(null)][  ab][ab  ][日历😀]");
    // An unknown conversion is copied and consumes no argument.
    EXPECT_EQ(Fmt(u"100%% %q %d%%", 5), "100% %q 5%");
    EXPECT_EQ(Fmt(u"50%"), "50%");

    // The bounded form never writes past its size and returns the length needed; the
    // string form grows to fit.
    WCHAR szBuffer[10];
    std::fill_n(szBuffer, 10, u'#');
    EXPECT_EQ(WStrFormat(szBuffer, 5, u"%d-%s", 123456, u"tail"), 11);
    EXPECT_EQ(WString(szBuffer, 10), WString(u"1234\0#####", 10));
    EXPECT_EQ(WStrFormat(nullptr, 0, u"%d", 12345), 5);
    std::fill_n(szBuffer, 10, u'#');
    EXPECT_EQ(WStrFormat(szBuffer, 1, u"%s", u"abc"), 3);
    EXPECT_EQ(WString(szBuffer, 2), WString(u"\0#", 2));

    const WString strLong(300, u'x');
    EXPECT_EQ(WStrFormatString(u"%s|%d|%s", strLong.c_str(), 42, u"end"), strLong + u"|42|end");
    EXPECT_EQ(WStrFormatString(u"%-400d|", -1), u"-1" + WString(398, u' ') + u"|");
    EXPECT_EQ(WStrFormatString(u"%d", 5), u"5");
}

TEST(CompatWStr, ToInt32)
{
    const std::pair<const WCHAR*, int32_t> cases[] = {
        {u"2147483647", INT_MAX}, {u"-17", -17},  {u"abc", 0}, {u"-2147483648", INT_MIN}, {u"+8", 8},  {u"- 5", 0},
        {u"4294967295", -1},      {u"12 34", 12}, {u"", 0},    {u"  \t42abc", 42},        {nullptr, 0}};
    for (const auto& [psz, nExpected] : cases) {
        EXPECT_EQ(WStrToInt32(psz), nExpected) << Narrow(psz);
    }
}

TEST(CompatWStr, StrictUtfConversions)
{
    std::string strNarrow;
    ASSERT_TRUE(WStrToUtf8(kUtf16Sample, strNarrow));
    EXPECT_EQ(strNarrow, kUtf8Sample);
    WString strWide;
    ASSERT_TRUE(WStrFromUtf8(kUtf8Sample, strWide));
    EXPECT_EQ(strWide, kUtf16Sample);
    ASSERT_TRUE(WStrFromUtf8("a\0b", 3, strWide));
    EXPECT_EQ(strWide.size(), 3u);

    // A high surrogate at the end, a low one first, a reversed pair.
    const WCHAR szHighAtEnd[] = {u'a', 0xD83D, 0}, szLowFirst[] = {0xDE00, u'a', 0}, szReversed[] = {0xDE00, 0xD83D, 0};
    for (const WCHAR* psz : {szHighAtEnd, szLowFirst, szReversed}) {
        strNarrow = "junk";
        EXPECT_FALSE(WStrToUtf8(psz, strNarrow));
        EXPECT_TRUE(strNarrow.empty());
    }
    for (const char* psz : {"\x80", "\xC3", "\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "ok\xF8"}) {
        SCOPED_TRACE(psz);
        strWide = u"junk";
        EXPECT_FALSE(WStrFromUtf8(psz, strWide));
        EXPECT_TRUE(strWide.empty());
    }
}
