// The registry of the compatibility layer: keys and values through the Win32
// calls, the one file that holds them (replaced whole, shared between processes,
// never overwritten when it cannot be read), and GUIDs as text.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "compat/win32.h"

using namespace testing_support;

namespace {

// {32BFB315-E3F6-4440-BAF1-4389487CB5E8}
const GUID s_guidSample = {0x32BFB315, 0xE3F6, 0x4440, {0xBA, 0xF1, 0x43, 0x89, 0x48, 0x7C, 0xB5, 0xE8}};

// Every test works on a registry file of its own.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("CALSTORE_REGISTRY", Path().c_str(), 1); }
    void TearDown() override { ::setenv("CALSTORE_REGISTRY", m_strSaved.c_str(), 1); }

    std::string Path() const { return m_dir.Join("registry.reg"); }
    // Temporary files beside the registry file; none may be left behind.
    std::vector<std::string> TemporaryFiles() const
    {
        std::vector<std::string> names = ListDir(m_dir.Path());
        const auto isKept = [](const std::string& strName) { return strName.find(".tmp") == std::string::npos; };
        names.erase(std::remove_if(names.begin(), names.end(), isKept), names.end());
        return names;
    }

    static LONG Create(HKEY hParent, const char* pszSubKey, HKEY* phKey, DWORD* pdwDisposition = nullptr)
    {
        return RegCreateKeyExW(hParent, Wide(pszSubKey).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                               nullptr, phKey, pdwDisposition);
    }
    static HKEY Create(HKEY hParent, const char* pszSubKey, DWORD* pdwDisposition = nullptr)
    {
        HKEY hKey = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, Create(hParent, pszSubKey, &hKey, pdwDisposition)) << pszSubKey;
        return hKey;
    }
    static LONG Open(HKEY hParent, const char* pszSubKey, HKEY* phKey)
    {
        return RegOpenKeyExW(hParent, Wide(pszSubKey).c_str(), 0, KEY_READ, phKey);
    }
    // Every key below the one named, as paths relative to it in their stored spelling.
    static std::set<std::string> Tree(HKEY hParent, const char* pszSubKey)
    {
        std::set<std::string> paths;
        HKEY hKey = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, Open(hParent, pszSubKey, &hKey)) << pszSubKey;
        WCHAR szName[64];
        DWORD cchName = 64;
        LONG lResult = ERROR_SUCCESS;
        for (DWORD i = 0;
             (lResult = RegEnumKeyExW(hKey, i, szName, &cchName, nullptr, nullptr, nullptr, nullptr)) == ERROR_SUCCESS;
             ++i, cchName = 64) {
            const std::string strName = Narrow(szName);
            paths.insert(strName);
            for (const std::string& strBelow : Tree(hKey, strName.c_str())) {
                paths.insert(strName + "\\" + strBelow);
            }
        }
        EXPECT_EQ(ERROR_NO_MORE_ITEMS, lResult) << pszSubKey;
        RegCloseKey(hKey);
        return paths;
    }
    // A null name stands for the default value.
    static LONG Set(HKEY hKey, const char* pszName, DWORD dwType, const void* pData, size_t cbData)
    {
        return RegSetValueExW(hKey, pszName != nullptr ? Wide(pszName).c_str() : nullptr, 0, dwType,
                              static_cast<const BYTE*>(pData), DWORD(cbData));
    }
    static LONG SetText(HKEY hKey, const char* pszName, const char* pszValue)
    {
        const WString strValue = Wide(pszValue);
        return Set(hKey, pszName, REG_SZ, strValue.c_str(), (strValue.size() + 1) * sizeof(WCHAR));
    }
    // A value read into a buffer of the size first asked for: terminated REG_SZ as its
    // text, other types as "type N:" and their bytes in hex, a failure as "error N".
    static std::string Read(HKEY hKey, const char* pszName)
    {
        const WString strName = pszName != nullptr ? Wide(pszName) : WString();
        const LPCWSTR pszWide = pszName != nullptr ? strName.c_str() : nullptr;
        DWORD dwType = 0;
        DWORD cbData = 0;
        LONG lResult = RegQueryValueExW(hKey, pszWide, nullptr, &dwType, nullptr, &cbData);
        std::vector<BYTE> data(cbData, 0xCC);
        if (lResult == ERROR_SUCCESS) {
            lResult = RegQueryValueExW(hKey, pszWide, nullptr, &dwType, data.data(), &cbData);
        }
        if (lResult != ERROR_SUCCESS) {
            return "error " + std::to_string(lResult);
        }
        if (dwType == REG_SZ && cbData >= 2 && data[cbData - 1] == 0 && data[cbData - 2] == 0) {
            return Narrow(reinterpret_cast<const WCHAR*>(data.data()));
        }
        std::string strText = "type " + std::to_string(dwType) + ":";
        for (BYTE b : data) {
            strText += {' ', "0123456789abcdef"[b / 16], "0123456789abcdef"[b % 16]};
        }
        return strText;
    }

    CTempDir m_dir;
    const std::string m_strSaved = std::getenv("CALSTORE_REGISTRY") != nullptr ? std::getenv("CALSTORE_REGISTRY") : "";
};

}  // namespace

TEST_F(RegistryTest, CreateKeyMakesMissingLevelsAndSaysWhatItDid)
{
    DWORD dwDisposition = 0;
    HKEY hLeaf = Create(HKEY_CURRENT_USER, "Software\\Brellin\\Deep\\Leaf", &dwDisposition);
    EXPECT_EQ(DWORD(REG_CREATED_NEW_KEY), dwDisposition);
    HKEY hAgain = Create(HKEY_CURRENT_USER, "software\\BRELLIN\\deep\\LEAF\\", &dwDisposition);
    EXPECT_EQ(DWORD(REG_OPENED_EXISTING_KEY), dwDisposition);
    HKEY hDeep = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, Open(HKEY_CURRENT_USER, "Software\\Brellin\\Deep", &hDeep));
    HKEY hOther = Create(hDeep, "Other\\Below", &dwDisposition);
    EXPECT_EQ(DWORD(REG_CREATED_NEW_KEY), dwDisposition);
    EXPECT_EQ((std::set<std::string>{"Brellin", "Brellin\\Deep", "Brellin\\Deep\\Leaf", "Brellin\\Deep\\Other",
                                     "Brellin\\Deep\\Other\\Below"}),
              Tree(HKEY_CURRENT_USER, "Software"));

    HKEY hMissing = nullptr;
    EXPECT_NE(ERROR_SUCCESS, Open(HKEY_LOCAL_MACHINE, "Software\\Brellin", &hMissing));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Open(hDeep, "Nowhere", &hMissing));
    EXPECT_NE(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, "a\\\\b", &hMissing));
    for (HKEY hKey : {hLeaf, hAgain, hDeep, hOther}) {
        EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(hKey));
    }
}

TEST_F(RegistryTest, ValuesRoundTripByTypeWithNamesInAnyCase)
{
    const char szText[] = "Zo\xC3\xAB \xE2\x98\x83 \"quoted\\\"";
    const DWORD dwCount = 0xDEADBEEF;
    const BYTE blob[] = {0x00, 0xFF, 0x10, 0x00, 0x7F};
    HKEY hKey = Create(HKEY_CURRENT_USER, "Software\\Values");
    EXPECT_EQ(ERROR_SUCCESS, SetText(hKey, "Name", szText));
    EXPECT_EQ(ERROR_SUCCESS, SetText(hKey, nullptr, "the default"));
    EXPECT_EQ(ERROR_SUCCESS, SetText(hKey, "Empty", ""));
    EXPECT_EQ(ERROR_SUCCESS, Set(hKey, "Count", REG_DWORD, &dwCount, 4));
    EXPECT_EQ(ERROR_SUCCESS, Set(hKey, "Blob", REG_BINARY, blob, sizeof(blob)));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(hKey));

    // Read back through a new handle, from the file.
    ASSERT_EQ(ERROR_SUCCESS, Open(HKEY_CURRENT_USER, "SOFTWARE\\values", &hKey));
    EXPECT_EQ(szText, Read(hKey, "name"));
    EXPECT_EQ("the default", Read(hKey, nullptr));
    EXPECT_EQ("", Read(hKey, "EMPTY"));
    EXPECT_EQ("type 4: ef be ad de", Read(hKey, "count"));
    EXPECT_EQ("type 3: 00 ff 10 00 7f", Read(hKey, "Blob"));
    EXPECT_EQ("error 2", Read(hKey, "Missing"));

    // Size queries, and a buffer too small for the value.
    DWORD cbData = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(hKey, nullptr, nullptr, nullptr, nullptr, &cbData));
    EXPECT_EQ(DWORD(sizeof(u"the default")), cbData);
    BYTE small[4] = {};
    cbData = sizeof(small);
    EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExW(hKey, WTEXT("blob"), nullptr, nullptr, small, &cbData));
    EXPECT_EQ(5u, cbData);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(hKey));

    // The same name in other letters replaces the value.
    hKey = Create(HKEY_CURRENT_USER, "Software\\Values");
    const DWORD dwFive = 5;
    EXPECT_EQ(ERROR_SUCCESS, Set(hKey, "COUNT", REG_DWORD, &dwFive, 4));
    EXPECT_EQ("type 4: 05 00 00 00", Read(hKey, "Count"));
    std::string strText;
    ASSERT_TRUE(ReadFile(Path(), strText));
    EXPECT_NE(std::string::npos, strText.find("=dword:00000005")) << strText;
    EXPECT_EQ(std::string::npos, strText.find("deadbeef")) << strText;
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(hKey));
}

TEST_F(RegistryTest, TextWithLineBreaksRoundTripsAndKeepsTheFileReadable)
{
    HKEY hKey = Create(HKEY_CURRENT_USER, "Software\\Lines");
    EXPECT_EQ(ERROR_SUCCESS, SetText(hKey, "multi", "first\nsecond"));
    EXPECT_EQ(ERROR_SUCCESS, SetText(hKey, "crlf", "a\r\nb"));
    // Names are lines of the file: one with a line break is refused.
    EXPECT_EQ(ERROR_INVALID_PARAMETER, SetText(hKey, "name\nwith a break", "v"));
    HKEY hRefused = nullptr;
    EXPECT_EQ(ERROR_INVALID_PARAMETER, Create(hKey, "key\nwith a break", &hRefused));
    EXPECT_EQ("first\nsecond", Read(hKey, "multi"));
    EXPECT_EQ("a\r\nb", Read(hKey, "crlf"));
    // Later writes still work: the file was not left unreadable.
    EXPECT_EQ(ERROR_SUCCESS, SetText(hKey, "after", "ok"));
    EXPECT_EQ("ok", Read(hKey, "after"));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(hKey));
}

TEST_F(RegistryTest, DeleteKeyRefusesSubkeysAndDeleteTreeTakesThemAll)
{
    HKEY hTree = Create(HKEY_CURRENT_USER, "Software\\Tree");
    for (const char* pszKey : {"A\\B", "C", "D\\E"}) {
        HKEY hKey = Create(hTree, pszKey);
        EXPECT_EQ(ERROR_SUCCESS, SetText(hKey, "v", pszKey));
        RegCloseKey(hKey);
    }
    EXPECT_EQ(ERROR_SUCCESS, SetText(hTree, "v", "tree"));

    // A key with subkeys stays; so a path is deleted from its far end.
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyW(HKEY_CURRENT_USER, WTEXT("Software\\Tree\\A")));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(hTree, WTEXT("a\\b")));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyW(hTree, WTEXT("A\\B")));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(hTree, WTEXT("A")));
    EXPECT_EQ((std::set<std::string>{"C", "D", "D\\E"}), Tree(HKEY_CURRENT_USER, "Software\\Tree"));

    // With no subkey named, the key stays and loses everything in it.
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeW(hTree, nullptr));
    EXPECT_EQ(std::set<std::string>{}, Tree(HKEY_CURRENT_USER, "Software\\Tree"));
    EXPECT_EQ("error 2", Read(hTree, "v"));

    RegCloseKey(Create(hTree, "F\\G"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeW(HKEY_CURRENT_USER, WTEXT("software\\tree")));
    EXPECT_EQ(std::set<std::string>{}, Tree(HKEY_CURRENT_USER, "Software"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteTreeW(HKEY_CURRENT_USER, WTEXT("Software\\Tree")));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(hTree));
}

TEST_F(RegistryTest, ClosedHandlesAreRefused)
{
    HKEY hKey = Create(HKEY_CURRENT_USER, "Software\\Closed");
    ASSERT_EQ(ERROR_SUCCESS, RegCloseKey(hKey));
    for (HKEY hBad : {hKey, reinterpret_cast<HKEY>(uintptr_t(0x7654321))}) {
        EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(hBad));
        EXPECT_EQ(ERROR_INVALID_HANDLE, SetText(hBad, "v", "x"));
        DWORD cbData = 0;
        EXPECT_EQ(ERROR_INVALID_HANDLE, RegQueryValueExW(hBad, nullptr, nullptr, nullptr, nullptr, &cbData));
        HKEY hSub = nullptr;
        EXPECT_EQ(ERROR_INVALID_HANDLE, Create(hBad, "Sub", &hSub));
        EXPECT_EQ(nullptr, hSub);
        EXPECT_EQ(ERROR_INVALID_HANDLE, Open(hBad, "Sub", &hSub));
        EXPECT_EQ(ERROR_INVALID_HANDLE, RegDeleteTreeW(hBad, nullptr));
        EXPECT_EQ(ERROR_INVALID_HANDLE, RegDeleteKeyW(hBad, WTEXT("Sub")));
        WCHAR szName[16];
        DWORD cchName = 16;
        EXPECT_EQ(ERROR_INVALID_HANDLE, RegEnumKeyExW(hBad, 0, szName, &cchName, nullptr, nullptr, nullptr, nullptr));
    }
    EXPECT_EQ(std::set<std::string>{}, Tree(HKEY_CURRENT_USER, "Software\\Closed"));
}

TEST_F(RegistryTest, FileIsReplacedWholeAndSharedWithOtherProcesses)
{
    HKEY hKey = Create(HKEY_CURRENT_USER, "Software\\Shared");
    ASSERT_EQ(ERROR_SUCCESS, SetText(hKey, "v", "one"));
    const int fdOld = ::open(Path().c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fdOld, 0);
    ASSERT_EQ(ERROR_SUCCESS, SetText(hKey, "v", "two"));

    // The old file is still whole: the new text went to a new file put in its place.
    char buffer[4096];
    const ssize_t cbOld = ::pread(fdOld, buffer, sizeof(buffer), 0);
    ::close(fdOld);
    ASSERT_GT(cbOld, 0);
    const std::string strOld(buffer, size_t(cbOld));
    EXPECT_NE(std::string::npos, strOld.find("\"v\"=\"one\"")) << strOld;
    std::string strNew;
    ASSERT_TRUE(ReadFile(Path(), strNew));
    EXPECT_NE(std::string::npos, strNew.find("\"v\"=\"two\"")) << strNew;
    EXPECT_TRUE(TemporaryFiles().empty());

    // Another process reads our value and writes its own.
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        HKEY hChild = nullptr;
        bool bOk = Open(HKEY_CURRENT_USER, "Software\\Shared", &hChild) == ERROR_SUCCESS &&
                   Read(hChild, "v") == "two" && SetText(hChild, "w", "from the child") == ERROR_SUCCESS;
        ::_exit(bOk ? 0 : 1);
    }
    int nStatus = -1;
    ASSERT_EQ(pid, ::waitpid(pid, &nStatus, 0));
    EXPECT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0);
    EXPECT_EQ("from the child", Read(hKey, "w"));
    EXPECT_EQ("two", Read(hKey, "v"));
    EXPECT_TRUE(TemporaryFiles().empty());
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(hKey));
}

TEST_F(RegistryTest, UnreadableFileIsNeverOverwritten)
{
    const std::string strHeader = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Kept]\n";
    for (const std::string& strBroken :
         {"this is not a registry\n" + strHeader, strHeader + "@=\"kept\"\nnot a value line\n",
          strHeader + "\"v\"=dword:zz\n", strHeader + "\"v\"=\"no closing quote\n", strHeader + "\"v\"=hex:01,zz\n"}) {
        SCOPED_TRACE(strBroken);
        ASSERT_TRUE(WriteFile(Path(), strBroken));
        HKEY hKey = nullptr;
        if (Open(HKEY_CURRENT_USER, "Software\\Kept", &hKey) == ERROR_SUCCESS) {
            EXPECT_NE(ERROR_SUCCESS, SetText(hKey, "x", "y"));
            EXPECT_NE(ERROR_SUCCESS, RegDeleteTreeW(hKey, nullptr));
            RegCloseKey(hKey);
        }
        EXPECT_NE(ERROR_SUCCESS, Create(HKEY_CURRENT_USER, "Software\\New", &hKey));
        EXPECT_NE(ERROR_SUCCESS, RegDeleteTreeW(HKEY_CURRENT_USER, WTEXT("Software\\Kept")));
        EXPECT_NE(ERROR_SUCCESS, RegDeleteKeyW(HKEY_CURRENT_USER, WTEXT("Software\\Kept")));
        std::string strAfter;
        ASSERT_TRUE(ReadFile(Path(), strAfter));
        EXPECT_EQ(strBroken, strAfter);
        EXPECT_TRUE(TemporaryFiles().empty());
    }
}

TEST_F(RegistryTest, GuidTextRoundTripsAndRefusesMalformedText)
{
    WCHAR szText[39];
    EXPECT_EQ(39, StringFromGUID2(s_guidSample, szText, 39));
    EXPECT_EQ("{32BFB315-E3F6-4440-BAF1-4389487CB5E8}", Narrow(szText));
    EXPECT_EQ(0, StringFromGUID2(s_guidSample, szText, 38));
    CLSID clsid{};
    EXPECT_EQ(S_OK, CLSIDFromString(WTEXT("{32bfb315-e3f6-4440-baf1-4389487cb5e8}"), &clsid));
    EXPECT_TRUE(clsid == s_guidSample);
    const GUID guidOnes = {0xFFFFFFFF, 0xFFFF, 0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}};
    for (const GUID& guid : {s_guidSample, IID_NULL, guidOnes, IID_IDispatch}) {
        ASSERT_EQ(39, StringFromGUID2(guid, szText, 39));
        EXPECT_EQ(S_OK, CLSIDFromString(szText, &clsid)) << Narrow(szText);
        EXPECT_TRUE(clsid == guid) << Narrow(szText);
    }

    for (const char* pszBad : {"32BFB315-E3F6-4440-BAF1-4389487CB5E8", "{32BFB315-E3F6-4440-BAF1-4389487CB5E8",
                               "{32BFB315-E3F6-4440-BAF1-4389487CB5E8}x", "{32BFB315-E3F6-4440-BAF1-4389487CB5EG}",
                               "{32BFB315E-3F6-4440-BAF1-4389487CB5E8}", "{32BFB315-E3F6-4440-BAF14-389487CB5E8}",
                               "{+2BFB315-E3F6-4440-BAF1-4389487CB5E8}", "{ 2BFB315-E3F6-4440-BAF1-4389487CB5E8}",
                               "(32BFB315-E3F6-4440-BAF1-4389487CB5E8)"}) {
        clsid = guidOnes;
        EXPECT_EQ(CO_E_CLASSSTRING, CLSIDFromString(Wide(pszBad).c_str(), &clsid)) << pszBad;
        EXPECT_TRUE(clsid == guidOnes) << pszBad;
    }
}

TEST_F(RegistryTest, ProgIDsResolveThroughTheirClsidKey)
{
    for (const auto& progID : {std::make_pair("Sample.Thing\\CLSID", "{32BFB315-E3F6-4440-BAF1-4389487CB5E8}"),
                               std::make_pair("Broken.Thing\\CLSID", "not a guid")}) {
        HKEY hKey = Create(HKEY_CLASSES_ROOT, progID.first);
        ASSERT_EQ(ERROR_SUCCESS, SetText(hKey, nullptr, progID.second));
        RegCloseKey(hKey);
    }
    CLSID clsid{};
    EXPECT_EQ(S_OK, CLSIDFromProgID(WTEXT("sample.thing"), &clsid));
    EXPECT_TRUE(clsid == s_guidSample);
    EXPECT_EQ(CO_E_CLASSSTRING, CLSIDFromProgID(WTEXT("No.Such.Thing"), &clsid));
    EXPECT_EQ(CO_E_CLASSSTRING, CLSIDFromProgID(WTEXT("Broken.Thing"), &clsid));
}
