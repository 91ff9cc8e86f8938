#include "DbState.h"

#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

namespace dbstate {

namespace {

// Runs a query and hands each row's texts to onRow; false when it fails.
bool ForEachRow(sqlite3* pDb, const std::string& strSql, const std::function<void(sqlite3_stmt*)>& onRow)
{
    sqlite3_stmt* pStmt = nullptr;
    if (sqlite3_prepare_v2(pDb, strSql.c_str(), -1, &pStmt, nullptr) != SQLITE_OK) {
        return false;
    }
    int rc;
    while ((rc = sqlite3_step(pStmt)) == SQLITE_ROW) {
        onRow(pStmt);
    }
    sqlite3_finalize(pStmt);
    return rc == SQLITE_DONE;
}

std::string Text(sqlite3_stmt* pStmt, int nColumn)
{
    const unsigned char* psz = sqlite3_column_text(pStmt, nColumn);
    return psz != nullptr ? reinterpret_cast<const char*>(psz) : "";
}

}  // namespace

bool CDbState::Current() const
{
    return bReadable && tables.size() == 3 && nCalendarColumns == 17 && nEventColumns == 42;
}

std::string CDbState::Describe() const
{
    if (!bExists || !bReadable) {
        return bExists ? "unreadable (" + strIntegrity + ")" : "no file";
    }
    std::string str = "tables:";
    for (const std::string& strTable : tables) {
        str += " " + strTable;
    }
    return str + (bHasVersionRow ? ", version " + std::to_string(nVersion) : ", no version row") + ", " +
           std::to_string(keys.size()) + " rows, integrity " + strIntegrity;
}

CDbState ReadDbState(const std::string& strPath)
{
    CDbState state;
    std::error_code ec;
    state.bExists = std::filesystem::exists(strPath, ec);
    if (!state.bExists) {
        return state;
    }
    sqlite3* pDb = nullptr;
    state.bReadable = sqlite3_open_v2(strPath.c_str(), &pDb, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
                      sqlite3_busy_timeout(pDb, 10000) == SQLITE_OK &&
                      ForEachRow(pDb, "select name from sqlite_master where type = 'table'",
                                 [&](sqlite3_stmt* p) { state.tables.insert(Text(p, 0)); });
    if (!state.bReadable) {
        state.strIntegrity = pDb != nullptr ? sqlite3_errmsg(pDb) : "cannot open";
        sqlite3_close(pDb);
        return state;
    }
    ForEachRow(pDb, "pragma integrity_check", [&](sqlite3_stmt* p) {
        state.strIntegrity += (state.strIntegrity.empty() ? "" : "; ") + Text(p, 0);
    });
    ForEachRow(pDb, "pragma table_info(Calendar)", [&](sqlite3_stmt*) { ++state.nCalendarColumns; });
    ForEachRow(pDb, "pragma table_info(Event)", [&](sqlite3_stmt*) { ++state.nEventColumns; });
    ForEachRow(pDb, "select CalTblVer from Version limit 1", [&](sqlite3_stmt* p) {
        state.bHasVersionRow = true;
        state.nVersion = sqlite3_column_int64(p, 0);
    });
    const auto addKey = [&](const std::string& strKey) {
        state.nDuplicateKeys += state.keys.insert(strKey).second ? 0 : 1;
    };
    ForEachRow(pDb, "select CalID from Calendar", [&](sqlite3_stmt* p) { addKey("C" + Text(p, 0)); });
    ForEachRow(pDb, "select CalID, EvtID from Event",
               [&](sqlite3_stmt* p) { addKey("E" + Text(p, 0) + "." + Text(p, 1)); });
    sqlite3_close(pDb);
    return state;
}

std::vector<std::string> BackupNames(const std::string& strDir)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(strDir, ec)) {
        const std::string strName = entry.path().filename().string();
        if (strName.find_first_not_of("0123456789") == 14 && strName.substr(14) == "CalData.db") {
            names.push_back(strName);
        }
    }
    return names;
}

std::string FileBytes(const std::string& strPath)
{
    std::ifstream in(strPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace dbstate
