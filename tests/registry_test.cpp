// The registry of the compatibility layer: keys and values through the Win32
// calls, the one file that holds them (replaced whole, shared between processes,
// never overwritten when it cannot be read), and GUIDs as text.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
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
    void SetUp() override
    {
        const char* pszSaved = std::getenv("CALSTORE_REGISTRY");
        m_strSaved = pszSaved != nullptr ? pszSaved : "";
        ::setenv("CALSTORE_REGISTRY", Path().c_str(), 1);
    }
    void TearDown() override { ::setenv("CALSTORE_REGISTRY", m_strSaved.c_str(), 1); }

    std::string Path() const { return m_dir.Join("registry.reg"); }

    static HKEY Create(HKEY hParent, const char* pszSubKey, DWORD* pdwDisposition = nullptr)
    {
        HKEY hKey = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(hParent, Wide(pszSubKey).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                                 KEY_ALL_ACCESS, nullptr, &hKey, pdwDisposition))
            << pszSubKey;
        return hKey;
    }
    static LONG Open(HKEY hParent, const char* pszSubKey, HKEY* phKey)
    {
        return RegOpenKeyExW(hParent, Wide(pszSubKey).c_str(), 0, KEY_READ, phKey);
    }
    static bool Exists(HKEY hParent, const char* pszSubKey)
    {
        HKEY hKey = nullptr;
        const bool bExists = Open(hParent, pszSubKey, &hKey) == ERROR_SUCCESS;
        if (bExists) {
            RegCloseKey(hKey);
        }
        return bExists;
    }
    // A null name sets the default value.
    static LONG SetText(HKEY hKey, const char* pszName, const char* pszValue)
    {
        const WString strValue = Wide(pszValue);
        return RegSetValueExW(hKey, pszName != nullptr ? Wide(pszName).c_str() : nullptr, 0, REG_SZ,
                              reinterpret_cast<const BYTE*>(strValue.c_str()),
                              DWORD((strValue.size() + 1) * sizeof(WCHAR)));
    }
    static LONG Query(HKEY hKey, const char* pszName, DWORD& dwType, std::vector<BYTE>& data)
    {
        const WString strName = pszName != nullptr ? Wide(pszName) : WString();
        DWORD cbData = 0;
        LONG lResult = RegQueryValueExW(hKey, pszName != nullptr ? strName.c_str() : nullptr, nullptr, &dwType,
                                        nullptr, &cbData);
        if (lResult == ERROR_SUCCESS) {
            data.assign(cbData, 0xCC);
            lResult = RegQueryValueExW(hKey, pszName != nullptr ? strName.c_str() : nullptr, nullptr, &dwType,
                                       data.data(), &cbData);
        }
        return lResult;
    }
    static std::string QueryText(HKEY hKey, const char* pszName)
    {
        DWORD dwType = 0;
        std::vector<BYTE> data;
        if (Query(hKey, pszName, dwType, data) != ERROR_SUCCESS || dwType != REG_SZ || data.size() < 2) {
            return "<none>";
        }
        return Narrow(reinterpret_cast<const WCHAR*>(data.data()));
    }

    std::vector<std::string> TemporaryFiles() const
    {
        std::vector<std::string> names;
        for (const std::string& strName : ListDir(m_dir.Path())) {
            if (strName.find(".tmp") != std::string::npos) {
                names.push_back(strName);
            }
        }
        return names;
    }

    CTempDir m_dir;
    std::string m_strSaved;
};

}  // namespace

// ---------------------------------------------------------------------------
// Keys and values

TEST_F(RegistryTest, CreateKeyMakesMissingLevelsAndSaysWhatItDid)
{
    DWORD dwDisposition = 0;
    HKEY hLeaf = Create(HKEY_CURRENT_USER, "Software\\Brellin\\Deep\\Leaf", &dwDisposition);
    EXPECT_EQ(DWORD(REG_CREATED_NEW_KEY), dwDisposition);
    HKEY hAgain = Create(HKEY_CURRENT_USER, "software\\BRELLIN\\deep\\LEAF\\", &dwDisposition);
    EXPECT_EQ(DWORD(REG_OPENED_EXISTING_KEY), dwDisposition);
    EXPECT_TRUE(Exists(HKEY_CURRENT_USER, "Software"));
    EXPECT_TRUE(Exists(HKEY_CURRENT_USER, "Software\\Brellin"));

    HKEY hDeep = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, Open(HKEY_CURRENT_USER, "Software\\Brellin\\Deep", &hDeep));
    HKEY hOther = Create(hDeep, "Other\\Below", &dwDisposition);
    EXPECT_EQ(DWORD(REG_CREATED_NEW_KEY), dwDisposition);
    EXPECT_TRUE(Exists(HKEY_CURRENT_USER, "Software\\Brellin\\Deep\\Other\\Below"));
    EXPECT_FALSE(Exists(HKEY_LOCAL_MACHINE, "Software\\Brellin"));
    HKEY hMissing = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Open(hDeep, "Nowhere", &hMissing));

    std::set<std::string> children;
    WCHAR szName[64];
    for (DWORD i = 0;; ++i) {
        DWORD cchName = 64;
        const LONG lResult = RegEnumKeyExW(hDeep, i, szName, &cchName, nullptr, nullptr, nullptr, nullptr);
        if (lResult != ERROR_SUCCESS) {
            EXPECT_EQ(ERROR_NO_MORE_ITEMS, lResult);
            break;
        }
        children.insert(Narrow(szName));
    }
    EXPECT_EQ((std::set<std::string>{"Leaf", "Other"}), children);

    HKEY hBad = nullptr;
    EXPECT_NE(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, WTEXT("a\\\\b"), 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &hBad, nullptr));
    for (HKEY hKey : {hLeaf, hAgain, hDeep, hOther}) {
        EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(hKey));
    }
}

TEST_F(RegistryTest, ValuesRoundTripByTypeWithNamesInAnyCase)
{
    HKEY hKey = Create(HKEY_CURRENT_USER, "Software\\Values");
    EXPECT_EQ(ERROR_SUCCESS, SetText(hKey, "Name", "Zo\xC3\xAB \xE2\x98\x83 \"quoted\\\""));
    EXPECT_EQ(ERROR_SUCCESS, SetText(hKey, nullptr, "the default"));
    EXPECT_EQ(ERROR_SUCCESS, SetText(hKey, "Empty", ""));
    const DWORD dwCount = 0xDEADBEEF;
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetValueExW(hKey, WTEXT("Count"), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwCount), 4));
    const std::vector<BYTE> blob = {0x00, 0xFF, 0x10, 0x00, 0x7F};
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(hKey, WTEXT("Blob"), 0, REG_BINARY, blob.data(), DWORD(blob.size())));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(hKey));

    // Read back through a new handle, from the file.
    ASSERT_EQ(ERROR_SUCCESS, Open(HKEY_CURRENT_USER, "SOFTWARE\\values", &hKey));
    EXPECT_EQ("Zo\xC3\xAB \xE2\x98\x83 \"quoted\\\"", QueryText(hKey, "name"));
    EXPECT_EQ("the default", QueryText(hKey, nullptr));
    EXPECT_EQ("", QueryText(hKey, "EMPTY"));
    DWORD dwType = 0;
    std::vector<BYTE> data;
    ASSERT_EQ(ERROR_SUCCESS, Query(hKey, "count", dwType, data));
    EXPECT_EQ(DWORD(REG_DWORD), dwType);
    ASSERT_EQ(4u, data.size());
    EXPECT_EQ(0, std::memcmp(&dwCount, data.data(), 4));
    ASSERT_EQ(ERROR_SUCCESS, Query(hKey, "Blob", dwType, data));
    EXPECT_EQ(DWORD(REG_BINARY), dwType);
    EXPECT_EQ(blob, data);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Query(hKey, "Missing", dwType, data));

    // Size queries, and a buffer too small for the value.
    DWORD cbData = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(hKey, nullptr, nullptr, nullptr, nullptr, &cbData));
    EXPECT_EQ(DWORD(sizeof(u"the default")), cbData);
    BYTE small[4] = {1, 2, 3, 4};
    cbData = sizeof(small);
    EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExW(hKey, WTEXT("blob"), nullptr, &dwType, small, &cbData));
    EXPECT_EQ(5u, cbData);
    BYTE exact[5] = {};
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(hKey, WTEXT("blob"), nullptr, &dwType, exact, &cbData));
    EXPECT_EQ(0, std::memcmp(blob.data(), exact, 5));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(hKey));

    // The same name in other letters replaces the value.
    hKey = Create(HKEY_CURRENT_USER, "Software\\Values");
    const DWORD dwFive = 5;
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetValueExW(hKey, WTEXT("COUNT"), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwFive), 4));
    ASSERT_EQ(ERROR_SUCCESS, Query(hKey, "Count", dwType, data));
    EXPECT_EQ(0, std::memcmp(&dwFive, data.data(), 4));
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
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegCreateKeyExW(hKey, WTEXT("key\nwith a break"), 0, nullptr, 0, KEY_WRITE,
                                                       nullptr, &hRefused, nullptr));
    EXPECT_EQ("first\nsecond", QueryText(hKey, "multi"));
    EXPECT_EQ("a\r\nb", QueryText(hKey, "crlf"));
    // Later writes still work: the file was not left unreadable.
    EXPECT_EQ(ERROR_SUCCESS, SetText(hKey, "after", "ok"));
    EXPECT_EQ("ok", QueryText(hKey, "after"));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(hKey));
}

TEST_F(RegistryTest, DeleteKeyRefusesSubkeysAndDeleteTreeTakesThemAll)
{
    HKEY hTree = Create(HKEY_CURRENT_USER, "Software\\Tree");
    RegCloseKey(Create(hTree, "A\\B"));
    HKEY hC = Create(hTree, "C");
    EXPECT_EQ(ERROR_SUCCESS, SetText(hC, "v", "c"));
    EXPECT_EQ(ERROR_SUCCESS, SetText(hTree, "v", "tree"));
    RegCloseKey(hC);

    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyW(HKEY_CURRENT_USER, WTEXT("Software\\Tree\\A")));
    EXPECT_TRUE(Exists(HKEY_CURRENT_USER, "Software\\Tree\\A\\B"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(hTree, WTEXT("a\\b")));
    EXPECT_FALSE(Exists(HKEY_CURRENT_USER, "Software\\Tree\\A\\B"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyW(hTree, WTEXT("A\\B")));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(hTree, WTEXT("A")));

    // With no subkey named, the key stays and loses everything in it.
    RegCloseKey(Create(hTree, "D\\E"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeW(hTree, nullptr));
    EXPECT_TRUE(Exists(HKEY_CURRENT_USER, "Software\\Tree"));
    EXPECT_FALSE(Exists(hTree, "C"));
    EXPECT_FALSE(Exists(hTree, "D"));
    EXPECT_EQ("<none>", QueryText(hTree, "v"));

    RegCloseKey(Create(hTree, "F\\G"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeW(HKEY_CURRENT_USER, WTEXT("software\\tree")));
    EXPECT_FALSE(Exists(HKEY_CURRENT_USER, "Software\\Tree"));
    EXPECT_FALSE(Exists(HKEY_CURRENT_USER, "Software\\Tree\\F\\G"));
    EXPECT_TRUE(Exists(HKEY_CURRENT_USER, "Software"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteTreeW(HKEY_CURRENT_USER, WTEXT("Software\\Tree")));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(hTree));
}

TEST_F(RegistryTest, ClosedHandlesAreRefused)
{
    HKEY hKey = Create(HKEY_CURRENT_USER, "Software\\Closed");
    ASSERT_EQ(ERROR_SUCCESS, RegCloseKey(hKey));
    HKEY hMadeUp = reinterpret_cast<HKEY>(uintptr_t(0x7654321));
    for (HKEY hBad : {hKey, hMadeUp}) {
        EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(hBad));
        EXPECT_EQ(ERROR_INVALID_HANDLE, SetText(hBad, "v", "x"));
        DWORD cbData = 0;
        EXPECT_EQ(ERROR_INVALID_HANDLE, RegQueryValueExW(hBad, nullptr, nullptr, nullptr, nullptr, &cbData));
        HKEY hSub = nullptr;
        EXPECT_EQ(ERROR_INVALID_HANDLE,
                  RegCreateKeyExW(hBad, WTEXT("Sub"), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hSub, nullptr));
        EXPECT_EQ(nullptr, hSub);
        EXPECT_EQ(ERROR_INVALID_HANDLE, Open(hBad, "Sub", &hSub));
        EXPECT_EQ(ERROR_INVALID_HANDLE, RegDeleteTreeW(hBad, nullptr));
        EXPECT_EQ(ERROR_INVALID_HANDLE, RegDeleteKeyW(hBad, WTEXT("Sub")));
        WCHAR szName[16];
        DWORD cchName = 16;
        EXPECT_EQ(ERROR_INVALID_HANDLE, RegEnumKeyExW(hBad, 0, szName, &cchName, nullptr, nullptr, nullptr, nullptr));
    }
    EXPECT_FALSE(Exists(HKEY_CURRENT_USER, "Software\\Closed\\Sub"));
}

// ---------------------------------------------------------------------------
// The file

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
                   QueryText(hChild, "v") == "two" && SetText(hChild, "w", "from the child") == ERROR_SUCCESS;
        ::_exit(bOk ? 0 : 1);
    }
    int nStatus = -1;
    ASSERT_EQ(pid, ::waitpid(pid, &nStatus, 0));
    EXPECT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0);
    EXPECT_EQ("from the child", QueryText(hKey, "w"));
    EXPECT_EQ("two", QueryText(hKey, "v"));
    EXPECT_TRUE(TemporaryFiles().empty());
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(hKey));
}

TEST_F(RegistryTest, UnreadableFileIsNeverOverwritten)
{
    const std::string strHeader = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Kept]\n";
    const std::string broken[] = {
        "this is not a registry\n" + strHeader,
        strHeader + "@=\"kept\"\nnot a value line\n",
        strHeader + "\"v\"=dword:zz\n",
        strHeader + "\"v\"=\"no closing quote\n",
        strHeader + "\"v\"=hex:01,zz\n",
    };
    for (const std::string& strBroken : broken) {
        ASSERT_TRUE(WriteFile(Path(), strBroken));
        HKEY hKey = HKEY_CURRENT_USER;
        if (Open(HKEY_CURRENT_USER, "Software\\Kept", &hKey) == ERROR_SUCCESS) {
            EXPECT_NE(ERROR_SUCCESS, SetText(hKey, "x", "y")) << strBroken;
            EXPECT_NE(ERROR_SUCCESS, RegDeleteTreeW(hKey, nullptr)) << strBroken;
            RegCloseKey(hKey);
        }
        HKEY hNew = nullptr;
        EXPECT_NE(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, WTEXT("Software\\New"), 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &hNew, nullptr))
            << strBroken;
        EXPECT_NE(ERROR_SUCCESS, RegDeleteTreeW(HKEY_CURRENT_USER, WTEXT("Software\\Kept"))) << strBroken;
        EXPECT_NE(ERROR_SUCCESS, RegDeleteKeyW(HKEY_CURRENT_USER, WTEXT("Software\\Kept"))) << strBroken;
        std::string strAfter;
        ASSERT_TRUE(ReadFile(Path(), strAfter));
        EXPECT_EQ(strBroken, strAfter);
        EXPECT_TRUE(TemporaryFiles().empty());
    }
}

// ---------------------------------------------------------------------------
// GUIDs as text and ProgIDs

TEST_F(RegistryTest, GuidTextRoundTripsAndRefusesMalformedText)
{
    WCHAR szText[39];
    EXPECT_EQ(39, StringFromGUID2(s_guidSample, szText, 39));
    EXPECT_EQ("{32BFB315-E3F6-4440-BAF1-4389487CB5E8}", Narrow(szText));
    EXPECT_EQ(0, StringFromGUID2(s_guidSample, szText, 38));
    CLSID clsid{};
    EXPECT_EQ(S_OK, CLSIDFromString(szText, &clsid));
    EXPECT_TRUE(clsid == s_guidSample);
    EXPECT_EQ(S_OK, CLSIDFromString(WTEXT("{32bfb315-e3f6-4440-baf1-4389487cb5e8}"), &clsid));
    EXPECT_TRUE(clsid == s_guidSample);
    const GUID guidOnes = {0xFFFFFFFF, 0xFFFF, 0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}};
    for (const GUID& guid : {IID_NULL, guidOnes, IID_IDispatch}) {
        ASSERT_EQ(39, StringFromGUID2(guid, szText, 39));
        EXPECT_EQ(S_OK, CLSIDFromString(szText, &clsid)) << Narrow(szText);
        EXPECT_TRUE(clsid == guid) << Narrow(szText);
    }

    for (const char* pszBad : {
             "32BFB315-E3F6-4440-BAF1-4389487CB5E8",
             "{32BFB315-E3F6-4440-BAF1-4389487CB5E8",
             "{32BFB315-E3F6-4440-BAF1-4389487CB5E8}x",
             "{32BFB315-E3F6-4440-BAF1-4389487CB5EG}",
             "{32BFB315E-3F6-4440-BAF1-4389487CB5E8}",
             "{32BFB315-E3F6-4440-BAF14-389487CB5E8}",
             "{+2BFB315-E3F6-4440-BAF1-4389487CB5E8}",
             "{ 2BFB315-E3F6-4440-BAF1-4389487CB5E8}",
             "(32BFB315-E3F6-4440-BAF1-4389487CB5E8)",
         }) {
        clsid = guidOnes;
        EXPECT_EQ(CO_E_CLASSSTRING, CLSIDFromString(Wide(pszBad).c_str(), &clsid)) << pszBad;
        EXPECT_TRUE(clsid == guidOnes) << pszBad;
    }
}

TEST_F(RegistryTest, ProgIDsResolveThroughTheirClsidKey)
{
    HKEY hKey = Create(HKEY_CLASSES_ROOT, "Sample.Thing\\CLSID");
    ASSERT_EQ(ERROR_SUCCESS, SetText(hKey, nullptr, "{32BFB315-E3F6-4440-BAF1-4389487CB5E8}"));
    RegCloseKey(hKey);
    hKey = Create(HKEY_CLASSES_ROOT, "Broken.Thing\\CLSID");
    ASSERT_EQ(ERROR_SUCCESS, SetText(hKey, nullptr, "not a guid"));
    RegCloseKey(hKey);

    CLSID clsid{};
    EXPECT_EQ(S_OK, CLSIDFromProgID(WTEXT("sample.thing"), &clsid));
    EXPECT_TRUE(clsid == s_guidSample);
    EXPECT_EQ(CO_E_CLASSSTRING, CLSIDFromProgID(WTEXT("No.Such.Thing"), &clsid));
    EXPECT_EQ(CO_E_CLASSSTRING, CLSIDFromProgID(WTEXT("Broken.Thing"), &clsid));
}
