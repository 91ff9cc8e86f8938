// The commands of the command-line host.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "StoreClient.h"

// A mistake in how calstore was called: reported with the usage hint, status 2.
struct CUsageError {
    std::string strMessage;
};

// A request that cannot be carried out (a bad file, a missing calendar, ...): status 1.
struct CCommandError {
    std::string strMessage;
};

struct CCommandLine {
    std::string strCommand;
    std::vector<std::string> arguments;
    std::map<std::string, std::string> options;  // "--begin" -> value; flags map to ""
    bool bJson = false;
    std::string strRoot;
    ULONG dwAccount = 1000;

    bool Has(const std::string& strOption) const { return options.count(strOption) != 0; }
    const std::string& Option(const std::string& strOption) const { return options.at(strOption); }
};

struct CCommandInfo {
    const char* pszName;
    size_t nMinArgs;
    size_t nMaxArgs;
    std::vector<std::string> valueOptions;  // options that take a value
    std::vector<std::string> flagOptions;   // options without a value
    const char* pszUsage;
    void (*pfnRun)(const CCommandLine& cmd, CStoreSession& session);
    bool bNeedsStore;
    bool bWrites;  // writes to the database: all of it or nothing
};

// Every command, in the order the usage text lists them.
const std::vector<CCommandInfo>& Commands();

// Runs commands that work without a store session (register, unregister).
void RunModuleCommand(const CCommandLine& cmd);

// Parsing helpers that raise CUsageError.
ULONG ParseId(const std::string& strText, const char* pszWhat);
int64_t ParseStoreTime(const std::string& strText, const char* pszWhat);

// Text limits of the store, in UTF-16 units.
constexpr size_t s_cchSubjectMax = 767;
constexpr size_t s_cchDetailMax = 3071;
constexpr size_t s_cchLocationMax = 767;
constexpr size_t s_cchExternalIdMax = 767;

// A text for the store: refused (or, with pnCut, cut and counted) when longer
// than the field; never cut inside a character.
WString StoreText(const std::string& strText, size_t cchMax, const char* pszWhat, size_t* pnCut = nullptr);

// Calendar number 0 to 4294967295 of an option, or the default.
ULONG CalendarOption(const CCommandLine& cmd, ULONG dwDefault);
void RequireCalendar(CStoreSession& session, ULONG dwCalID);

// The iCalendar commands (IcsCommands.cpp).
void RunImport(const CCommandLine& cmd, CStoreSession& session);
void RunExport(const CCommandLine& cmd, CStoreSession& session);
// The key by which an event added with an external id is known to later imports.
WString HandAddedKey(const std::string& strExternalId);
// For the demo: imports a file into calendar 1 and returns the number of events stored.
size_t ImportForDemo(CStoreSession& session, const std::string& strPath);
