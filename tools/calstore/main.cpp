// calstore: the reference host of the calendar store. It drives the component as a
// calendar application does (create by ProgID, start with the host's kernel, work,
// end the start-up batch, stop) and offers its operations as commands.
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Commands.h"
#include "Output.h"
#include "host/CalendarUtil.h"

namespace {

void PrintUsage(FILE* pOut)
{
    std::fprintf(pOut, "usage: calstore [--root DIR] [--account UIN] [--json] COMMAND [ARGUMENTS]\n\ncommands:\n");
    for (const CCommandInfo& command : Commands()) {
        std::fprintf(pOut, "  %s\n", command.pszUsage);
    }
    std::fprintf(pOut,
                 "\nTimes are local ISO 8601 (2026-12-06, 2026-12-06T09:30) or Unix seconds.\n"
                 "Without a command, calstore runs the demo in a scratch directory.\n");
}

const CCommandInfo* FindCommand(const std::string& strName)
{
    for (const CCommandInfo& command : Commands()) {
        if (strName == command.pszName) {
            return &command;
        }
    }
    return nullptr;
}

bool Contains(const std::vector<std::string>& names, const std::string& strName)
{
    for (const std::string& str : names) {
        if (str == strName) {
            return true;
        }
    }
    return false;
}

CCommandLine Parse(int argc, char** argv, const CCommandInfo*& pCommand)
{
    CCommandLine cmd;
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        words.push_back(argv[i]);
    }
    pCommand = nullptr;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& strWord = words[i];
        auto next = [&]() -> const std::string& {
            if (i + 1 >= words.size()) {
                throw CUsageError{strWord + " needs a value"};
            }
            return words[++i];
        };
        if (strWord == "--root") {
            cmd.strRoot = next();
        } else if (strWord == "--account") {
            cmd.dwAccount = ParseId(next(), "account number");
        } else if (strWord == "--json") {
            cmd.bJson = true;
        } else if (strWord == "--help" || strWord == "-h") {
            cmd.strCommand = "help";
            return cmd;
        } else if (strWord.size() > 1 && strWord[0] == '-' &&
                   strWord.find_first_not_of("-0123456789") != std::string::npos) {
            if (pCommand == nullptr) {
                throw CUsageError{"unknown option " + strWord};
            }
            if (Contains(pCommand->valueOptions, strWord)) {
                cmd.options[strWord] = next();
            } else if (Contains(pCommand->flagOptions, strWord)) {
                cmd.options[strWord] = "";
            } else {
                throw CUsageError{"unknown option " + strWord + " for " + pCommand->pszName};
            }
        } else if (pCommand == nullptr) {
            pCommand = FindCommand(strWord);
            if (pCommand == nullptr) {
                throw CUsageError{"unknown command '" + strWord + "'"};
            }
            cmd.strCommand = strWord;
        } else {
            cmd.arguments.push_back(strWord);
        }
    }
    if (pCommand == nullptr) {
        pCommand = FindCommand("demo");
        cmd.strCommand = "demo";
    }
    if (cmd.arguments.size() < pCommand->nMinArgs || cmd.arguments.size() > pCommand->nMaxArgs) {
        throw CUsageError{std::string("usage: calstore ") + pCommand->pszUsage};
    }
    return cmd;
}

// The demo runs in a scratch directory of its own unless a root is given.
void ChooseRoot(CCommandLine& cmd)
{
    if (cmd.strRoot.empty() && cmd.strCommand == "demo") {
        const char* pszTmp = std::getenv("TMPDIR");
        std::string strTemplate = std::string(pszTmp != nullptr && *pszTmp != 0 ? pszTmp : "/tmp") + "/calstore.XXXXXX";
        if (::mkdtemp(&strTemplate[0]) == nullptr) {
            throw CCommandError{"cannot make a scratch directory under " +
                                strTemplate.substr(0, strTemplate.rfind('/'))};
        }
        cmd.strRoot = strTemplate;
    }
    if (!cmd.strRoot.empty()) {
        ::setenv("CALSTORE_ROOT", cmd.strRoot.c_str(), 1);
    }
}

std::string HresultText(HRESULT hr)
{
    char szCode[16];
    std::snprintf(szCode, sizeof(szCode), "0x%08X", static_cast<unsigned>(hr));
    switch (hr) {
    case E_FAIL: return std::string("the store reported a failure (") + szCode + ")";
    case E_POINTER: return std::string("a required object was missing (") + szCode + ")";
    case E_NOINTERFACE: return std::string("an object lacked an interface (") + szCode + ")";
    case E_INVALIDARG: return std::string("an argument was refused (") + szCode + ")";
    case REGDB_E_CLASSNOTREG: return std::string("the class is not registered (") + szCode + ")";
    case CO_E_DLLNOTFOUND: return std::string("the module could not be loaded (") + szCode + ")";
    default: return std::string("error ") + szCode;
    }
}

// One line for a failed call into the store: what failed and why, with the file.
std::string StoreErrorLine(const CStoreError& e, const CStoreSession& session, bool bWrites)
{
    std::string strLine = e.strWhat + " failed: " + (e.strReason.empty() ? HresultText(e.hr) : e.strReason);
    const std::string strPath = session.DatabasePath();
    if (session.Started() && strLine.find(strPath) == std::string::npos) {
        strLine += " (" + strPath + ")";
    }
    return bWrites ? "nothing of the command was saved: " + strLine : strLine;
}

// The store replaces a damaged or old database quietly; the person is told here.
void WarnOfBackups(const CStoreSession& session)
{
    for (const std::string& strBackup : session.NewBackups()) {
        std::fprintf(stderr,
                     "calstore: warning: %s was damaged or of an old format and was rebuilt; its data was kept in %s\n",
                     session.DatabasePath().c_str(), strBackup.c_str());
    }
}

}  // namespace

int main(int argc, char** argv)
{
    CCommandLine cmd;
    const CCommandInfo* pCommand = nullptr;
    try {
        cmd = Parse(argc, argv, pCommand);
        if (cmd.strCommand == "help") {
            PrintUsage(stdout);
            return 0;
        }
        ChooseRoot(cmd);
    } catch (const CUsageError& e) {
        std::fprintf(stderr, "calstore: %s\n", e.strMessage.c_str());
        return 2;
    } catch (const CCommandError& e) {
        std::fprintf(stderr, "calstore: %s\n", e.strMessage.c_str());
        return 1;
    }

    if (!pCommand->bNeedsStore) {
        try {
            RunModuleCommand(cmd);
            return 0;
        } catch (const CStoreError& e) {
            std::fprintf(stderr, "calstore: %s failed: %s\n", e.strWhat.c_str(), HresultText(e.hr).c_str());
            return 1;
        }
    }

    CStoreSession session(cmd.dwAccount, cmd.strCommand == "stop" && cmd.Has("--clear"), pCommand->bWrites);
    int nExit = 0;
    try {
        pCommand->pfnRun(cmd, session);
        WarnOfBackups(session);
        session.Finish();
        return 0;
    } catch (const CUsageError& e) {
        std::fprintf(stderr, "calstore: %s\n", e.strMessage.c_str());
        nExit = 2;
    } catch (const CCommandError& e) {
        std::fprintf(stderr, "calstore: %s\n", e.strMessage.c_str());
        nExit = 1;
    } catch (const CStoreError& e) {
        WarnOfBackups(session);
        std::fprintf(stderr, "calstore: %s\n", StoreErrorLine(e, session, pCommand->bWrites).c_str());
        nExit = 1;
    } catch (const CTextError&) {
        std::fprintf(stderr, "calstore: an argument is not valid UTF-8\n");
        nExit = 2;
    }
    // A failed command leaves the stored data as it was: nothing it wrote in the
    // batch is committed.
    CStoreSession::AbandonAndExit(nExit);
}
