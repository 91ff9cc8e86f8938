// The Win32/COM compatibility layer and our UTF-16 helpers, checked against the
// behaviour that component code written for Windows relies on.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <ctime>
#include <iterator>
#include <string>
#include <thread>

#include "TestSupport.h"

using namespace testing_support;

namespace {

// "hé😀": one-, two- and four-byte sequences; the last one is a surrogate pair in UTF-16.
const char kUtf8Sample[] = "h\xC3\xA9\xF0\x9F\x98\x80";
const WCHAR kUtf16Sample[] = u"h\u00E9\U0001F600";

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

TEST(CompatBstr, KeepsWindowsLayout)
{
    BSTR bstr = SysAllocString(u"abc");
    ASSERT_NE(bstr, nullptr);
    DWORD cbStored = 0;
    std::memcpy(&cbStored, reinterpret_cast<const char*>(bstr) - sizeof(DWORD), sizeof(DWORD));
    EXPECT_EQ(cbStored, 6u);
    EXPECT_EQ(bstr[3], 0);
    EXPECT_EQ(SysStringLen(bstr), 3u);
    EXPECT_EQ(SysStringByteLen(bstr), 6u);
    SysFreeString(bstr);

    BSTR bstrEmpty = SysAllocString(u"");
    ASSERT_NE(bstrEmpty, nullptr);
    EXPECT_EQ(SysStringLen(bstrEmpty), 0u);
    EXPECT_EQ(bstrEmpty[0], 0);
    SysFreeString(bstrEmpty);
}

TEST(CompatBstr, AllocLenHandlesNullSourceAndEmbeddedZeros)
{
    BSTR bstrZero = SysAllocStringLen(nullptr, 4);
    ASSERT_NE(bstrZero, nullptr);
    EXPECT_EQ(SysStringLen(bstrZero), 4u);
    for (int i = 0; i <= 4; ++i) {
        EXPECT_EQ(bstrZero[i], 0) << i;
    }
    SysFreeString(bstrZero);

    const WCHAR szEmbedded[] = {u'a', 0, u'b'};
    BSTR bstr = SysAllocStringLen(szEmbedded, 3);
    ASSERT_NE(bstr, nullptr);
    EXPECT_EQ(SysStringLen(bstr), 3u);
    EXPECT_EQ(SysStringByteLen(bstr), 6u);
    EXPECT_EQ(bstr[1], 0);
    EXPECT_EQ(bstr[2], u'b');
    EXPECT_EQ(bstr[3], 0);
    SysFreeString(bstr);

    // Only ui characters are taken from a longer source.
    BSTR bstrPrefix = SysAllocStringLen(u"abcdef", 2);
    EXPECT_EQ(Narrow(bstrPrefix), "ab");
    SysFreeString(bstrPrefix);
}

TEST(CompatBstr, NullIsHarmless)
{
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysStringByteLen(nullptr), 0u);
    SysFreeString(nullptr);
}

TEST(CompatCodePage, MultiByteToWideCharSizesAndCopies)
{
    for (UINT uCodePage : {UINT(CP_ACP), UINT(CP_UTF8)}) {
        SCOPED_TRACE(uCodePage);
        EXPECT_EQ(MultiByteToWideChar(uCodePage, 0, kUtf8Sample, -1, nullptr, 0), 5);
        EXPECT_EQ(MultiByteToWideChar(uCodePage, 0, kUtf8Sample, 7, nullptr, 0), 4);

        WCHAR szWide[8] = {};
        ASSERT_EQ(MultiByteToWideChar(uCodePage, 0, kUtf8Sample, -1, szWide, 5), 5);
        EXPECT_EQ(WStrCmp(szWide, kUtf16Sample), 0);

        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(MultiByteToWideChar(uCodePage, 0, kUtf8Sample, -1, szWide, 4), 0);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    }
}

TEST(CompatCodePage, WideCharToMultiByteSizesAndCopies)
{
    for (UINT uCodePage : {UINT(CP_ACP), UINT(CP_UTF8)}) {
        SCOPED_TRACE(uCodePage);
        EXPECT_EQ(WideCharToMultiByte(uCodePage, 0, kUtf16Sample, -1, nullptr, 0, nullptr, nullptr), 8);
        EXPECT_EQ(WideCharToMultiByte(uCodePage, 0, kUtf16Sample, 4, nullptr, 0, nullptr, nullptr), 7);

        char szNarrow[16] = {};
        ASSERT_EQ(WideCharToMultiByte(uCodePage, 0, kUtf16Sample, -1, szNarrow, 8, nullptr, nullptr), 8);
        EXPECT_STREQ(szNarrow, kUtf8Sample);

        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(WideCharToMultiByte(uCodePage, 0, kUtf16Sample, -1, szNarrow, 7, nullptr, nullptr), 0);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    }
}

TEST(CompatCodePage, InvalidUtf8)
{
    // A stray byte, an overlong form, an encoded surrogate and a truncated sequence.
    for (const char* pszBad : {"a\xFF" "b", "\xC0\xAF", "\xED\xA0\x80", "x\xE6\x97"}) {
        SCOPED_TRACE(pszBad);
        WCHAR szWide[16];
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, pszBad, -1, szWide, 16), 0);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_UNICODE_TRANSLATION));
    }

    WCHAR szWide[8] = {};
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, "a\xFF" "b", -1, szWide, 8), 4);
    EXPECT_EQ(szWide[0], u'a');
    EXPECT_EQ(szWide[1], 0xFFFD);
    EXPECT_EQ(szWide[2], u'b');
    EXPECT_EQ(szWide[3], 0);
}

TEST(CompatCodePage, LoneSurrogateAndDefaultChar)
{
    const WCHAR szLone[] = {u'a', 0xD800, u'b', 0};
    char szNarrow[16] = {};

    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, szLone, -1, szNarrow, 16, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_UNICODE_TRANSLATION));

    BOOL bUsedDefault = FALSE;
    EXPECT_GT(WideCharToMultiByte(CP_ACP, 0, szLone, -1, szNarrow, 16, nullptr, &bUsedDefault), 0);
    EXPECT_TRUE(bUsedDefault);
    EXPECT_STREQ(szNarrow, "a\xEF\xBF\xBD" "b");

    // A clean conversion must clear the flag, not just leave it alone.
    bUsedDefault = TRUE;
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"ok", -1, szNarrow, 16, nullptr, &bUsedDefault), 3);
    EXPECT_FALSE(bUsedDefault);

    // UTF-8 takes no default character at all.
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"ok", -1, szNarrow, 16, nullptr, &bUsedDefault), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"ok", -1, szNarrow, 16, "?", nullptr), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST(CompatFiles, CreateDirectory)
{
    CTempDir dir;
    const WString strNew = Wide(dir.Join("new"));
    SetLastError(ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(CreateDirectoryW(strNew.c_str(), nullptr));
    EXPECT_TRUE(FileExists(dir.Join("new")));

    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(CreateDirectoryW(strNew.c_str(), nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));

    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(CreateDirectoryW(Wide(dir.Join("missing/child")).c_str(), nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(FileExists(dir.Join("missing")));
}

TEST(CompatFiles, CopyFile)
{
    CTempDir dir;
    const std::string strSrc = dir.Join("src.bin");
    const std::string strDst = dir.Join("dst.bin");
    // Larger than one copy chunk, with zero bytes in it.
    std::string strFirst(200000, '\0');
    for (size_t i = 0; i < strFirst.size(); ++i) {
        strFirst[i] = static_cast<char>(i * 7);
    }
    ASSERT_TRUE(WriteFile(strSrc, strFirst));

    std::string strContent;
    ASSERT_TRUE(CopyFileW(Wide(strSrc).c_str(), Wide(strDst).c_str(), TRUE));
    ASSERT_TRUE(ReadFile(strDst, strContent));
    EXPECT_TRUE(strContent == strFirst);

    ASSERT_TRUE(WriteFile(strSrc, "second"));
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(CopyFileW(Wide(strSrc).c_str(), Wide(strDst).c_str(), TRUE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_EXISTS));
    EXPECT_EQ(FileSize(strDst), static_cast<long long>(strFirst.size()));

    // Replacing a longer file must not leave its tail behind.
    EXPECT_TRUE(CopyFileW(Wide(strSrc).c_str(), Wide(strDst).c_str(), FALSE));
    ASSERT_TRUE(ReadFile(strDst, strContent));
    EXPECT_EQ(strContent, "second");

    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(CopyFileW(Wide(dir.Join("absent")).c_str(), Wide(dir.Join("out")).c_str(), FALSE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(FileExists(dir.Join("out")));

    for (BOOL bFailIfExists : {FALSE, TRUE}) {
        EXPECT_FALSE(CopyFileW(Wide(strSrc).c_str(), Wide(strSrc).c_str(), bFailIfExists));
        ASSERT_TRUE(ReadFile(strSrc, strContent));
        EXPECT_EQ(strContent, "second");
    }
}

TEST(CompatFiles, DeleteFileAndNonAsciiNames)
{
    CTempDir dir;
    const std::string strSubdir = dir.Join("日历 Ünïcode");
    const std::string strFile = strSubdir + "/événement😀.txt";
    ASSERT_TRUE(WriteFile(dir.Join("plain.txt"), "data"));

    ASSERT_TRUE(CreateDirectoryW(Wide(strSubdir).c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(Wide(dir.Join("plain.txt")).c_str(), Wide(strFile).c_str(), TRUE));
    std::string strContent;
    ASSERT_TRUE(ReadFile(strFile, strContent));
    EXPECT_EQ(strContent, "data");

    EXPECT_TRUE(DeleteFileW(Wide(strFile).c_str()));
    EXPECT_FALSE(FileExists(strFile));

    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(DeleteFileW(Wide(strFile).c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

TEST(CompatTime, LocalTimeAndTickCount)
{
    SYSTEMTIME st{};
    GetLocalTime(&st);
    EXPECT_GE(st.wYear, 2020);
    EXPECT_LT(st.wYear, 2200);
    EXPECT_GE(st.wMonth, 1);
    EXPECT_LE(st.wMonth, 12);
    EXPECT_GE(st.wDay, 1);
    EXPECT_LE(st.wDay, 31);
    EXPECT_LT(st.wHour, 24);
    EXPECT_LT(st.wMinute, 60);
    EXPECT_LT(st.wSecond, 60);
    EXPECT_LT(st.wMilliseconds, 1000);
    // The weekday must belong to the date reported with it.
    struct tm tmDate {};
    tmDate.tm_year = st.wYear - 1900;
    tmDate.tm_mon = st.wMonth - 1;
    tmDate.tm_mday = st.wDay;
    tmDate.tm_hour = 12;
    ASSERT_NE(std::mktime(&tmDate), time_t(-1));
    EXPECT_EQ(st.wDayOfWeek, tmDate.tm_wday);

    const DWORD dwStart = GetTickCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const DWORD dwElapsed = GetTickCount() - dwStart;
    EXPECT_GE(dwElapsed, 45u);
    EXPECT_LT(dwElapsed, 10000u);
}

TEST(CompatWStr, LengthAndCompare)
{
    EXPECT_EQ(WStrLen(nullptr), 0u);
    EXPECT_EQ(WStrLen(u""), 0u);
    EXPECT_EQ(WStrLen(kUtf16Sample), 4u);

    EXPECT_EQ(WStrCmp(nullptr, nullptr), 0);
    EXPECT_EQ(WStrCmp(nullptr, u""), 0);
    EXPECT_LT(WStrCmp(nullptr, u"a"), 0);
    EXPECT_GT(WStrCmp(u"a", nullptr), 0);
    EXPECT_EQ(WStrCmp(u"abc", u"abc"), 0);
    EXPECT_LT(WStrCmp(u"abc", u"abd"), 0);
    EXPECT_LT(WStrCmp(u"ab", u"abc"), 0);
    EXPECT_GT(WStrCmp(u"b", u"abc"), 0);
    // Code units compare unsigned: U+FFFF sorts after ASCII.
    EXPECT_GT(WStrCmp(u"\uFFFF", u"z"), 0);
}

TEST(CompatWStr, CopyNAndBoundedLength)
{
    WCHAR szDest[8];
    std::fill(std::begin(szDest), std::end(szDest), WCHAR(u'#'));
    EXPECT_EQ(WStrCopyN(szDest, 6, u"hello world"), 5u);
    EXPECT_EQ(Narrow(szDest), "hello");
    EXPECT_EQ(szDest[6], u'#');

    const WCHAR szPair[] = u"ab\U0001F600c";
    EXPECT_EQ(WStrCopyN(szDest, 4, szPair), 2u);
    EXPECT_EQ(Narrow(szDest), "ab");
    EXPECT_EQ(WStrCopyN(szDest, 5, szPair), 4u);
    EXPECT_EQ(WStrCmp(szDest, u"ab\U0001F600"), 0);
    EXPECT_EQ(WStrCopyN(szDest, 8, szPair), 5u);
    EXPECT_EQ(WStrCmp(szDest, szPair), 0);

    EXPECT_EQ(WStrCopyN(szDest, 1, u"abc"), 0u);
    EXPECT_EQ(szDest[0], 0);
    szDest[0] = u'#';
    EXPECT_EQ(WStrCopyN(szDest, 8, nullptr), 0u);
    EXPECT_EQ(szDest[0], 0);
    szDest[0] = u'#';
    EXPECT_EQ(WStrCopyN(szDest, 0, u"abc"), 0u);
    EXPECT_EQ(szDest[0], u'#');

    EXPECT_EQ(WStrBoundedLength(szPair, 5, 10), 5u);
    EXPECT_EQ(WStrBoundedLength(szPair, 5, 4), 4u);
    EXPECT_EQ(WStrBoundedLength(szPair, 5, 3), 2u);
    EXPECT_EQ(WStrBoundedLength(szPair, 5, 2), 2u);
    EXPECT_EQ(WStrBoundedLength(szPair, 5, 0), 0u);
}

TEST(CompatWStr, FormatConversions)
{
    EXPECT_EQ(Fmt(u"%d|%d|%d", 0, 42, -7), "0|42|-7");
    EXPECT_EQ(Fmt(u"%d", INT_MIN), "-2147483648");
    EXPECT_EQ(Fmt(u"%d", INT_MAX), "2147483647");
    EXPECT_EQ(Fmt(u"%05d|%5d|%-5d|", -42, -42, -42), "-0042|  -42|-42  |");
    EXPECT_EQ(Fmt(u"%03d|%2d", 7, 12345), "007|12345");
    EXPECT_EQ(Fmt(u"%u", 4294967295u), "4294967295");
    EXPECT_EQ(Fmt(u"%x|%X|%08X", 0xBEEFu, 255u, 0xABCu), "beef|FF|00000ABC");
    EXPECT_EQ(Fmt(u"[%s]", static_cast<const WCHAR*>(nullptr)), "[(null)]");
    EXPECT_EQ(Fmt(u"[%4s][%-4s]", u"ab", u"ab"), "[  ab][ab  ]");
    EXPECT_EQ(Fmt(u"[%s]", u"日历\U0001F600"), "[日历😀]");
    EXPECT_EQ(Fmt(u"100%% %d%%", 5), "100% 5%");
    // An unknown conversion is copied and consumes no argument.
    EXPECT_EQ(Fmt(u"%q %d", 9), "%q 9");
    EXPECT_EQ(Fmt(u"50%"), "50%");
}

TEST(CompatWStr, FormatStaysInsideBuffer)
{
    WCHAR szBuffer[10];
    std::fill(std::begin(szBuffer), std::end(szBuffer), WCHAR(u'#'));
    EXPECT_EQ(WStrFormat(szBuffer, 5, u"%d-%s", 123456, u"tail"), 11);
    EXPECT_EQ(Narrow(szBuffer), "1234");
    for (int i = 5; i < 10; ++i) {
        EXPECT_EQ(szBuffer[i], u'#') << i;
    }

    EXPECT_EQ(WStrFormat(nullptr, 0, u"%d", 12345), 5);
    std::fill(std::begin(szBuffer), std::end(szBuffer), WCHAR(u'#'));
    EXPECT_EQ(WStrFormat(szBuffer, 1, u"%s", u"abc"), 3);
    EXPECT_EQ(szBuffer[0], 0);
    EXPECT_EQ(szBuffer[1], u'#');
}

TEST(CompatWStr, FormatStringGrowsPastSmallBuffer)
{
    const WString strLong(300, u'x');
    const WString str = WStrFormatString(u"%s|%d|%s", strLong.c_str(), 42, u"end");
    EXPECT_EQ(str, strLong + u"|42|end");

    const WString strPadded = WStrFormatString(u"%-400d|", -1);
    ASSERT_EQ(strPadded.size(), 401u);
    EXPECT_EQ(strPadded.substr(0, 3), u"-1 ");
    EXPECT_EQ(strPadded.back(), u'|');

    EXPECT_EQ(WStrFormatString(u"%d", 5), u"5");
}

TEST(CompatWStr, ToInt32)
{
    EXPECT_EQ(WStrToInt32(u"  \t42abc"), 42);
    EXPECT_EQ(WStrToInt32(u"-17"), -17);
    EXPECT_EQ(WStrToInt32(u"+8"), 8);
    EXPECT_EQ(WStrToInt32(u"12 34"), 12);
    EXPECT_EQ(WStrToInt32(u"abc"), 0);
    EXPECT_EQ(WStrToInt32(u"- 5"), 0);
    EXPECT_EQ(WStrToInt32(u""), 0);
    EXPECT_EQ(WStrToInt32(nullptr), 0);
    EXPECT_EQ(WStrToInt32(u"2147483647"), INT_MAX);
    EXPECT_EQ(WStrToInt32(u"-2147483648"), INT_MIN);
    EXPECT_EQ(WStrToInt32(u"4294967295"), -1);
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

    const WCHAR szHighAtEnd[] = {u'a', 0xD83D, 0};
    const WCHAR szLowFirst[] = {0xDE00, u'a', 0};
    const WCHAR szReversed[] = {0xDE00, 0xD83D, 0};
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
