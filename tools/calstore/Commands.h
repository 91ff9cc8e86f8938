// The commands of the command-line host.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "StoreSession.h"

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
};

// Every command, in the order the usage text lists them.
const std::vector<CCommandInfo>& Commands();

// Runs commands that work without a store session (register, unregister).
void RunModuleCommand(const CCommandLine& cmd);

// Parsing helpers that raise CUsageError.
ULONG ParseId(const std::string& strText, const char* pszWhat);
int64_t ParseStoreTime(const std::string& strText, const char* pszWhat);
