// What a store file holds, read through a plain SQLite connection: the file as the
// next start would find it after a fault, a crash or a race.
#pragma once

#include <set>
#include <string>
#include <vector>

namespace dbstate {

struct CDbState {
    bool bExists = false;
    bool bReadable = false;      // opened and its schema read
    std::string strIntegrity;    // what "pragma integrity_check" said, lines joined by "; "
    std::set<std::string> tables;
    int nCalendarColumns = 0;
    int nEventColumns = 0;
    bool bHasVersionRow = false;
    long long nVersion = 0;
    std::set<std::string> keys;  // "C<CalID>" per calendar row, "E<CalID>.<EvtID>" per event row
    int nDuplicateKeys = 0;

    bool Current() const;  // the three tables with the current columns
    bool Blank() const { return !bExists || (bReadable && tables.empty()); }  // absent, or no table
    std::string Describe() const;
};

// Opens the file read-write (a journal left by a crash is rolled back, as the next
// writer would) and reads it; creates nothing when it is absent.
CDbState ReadDbState(const std::string& strPath);

// The names in strDir that a backup of the store file has: 14 digits and "CalData.db".
std::vector<std::string> BackupNames(const std::string& strDir);

std::string FileBytes(const std::string& strPath);  // empty when it cannot be read

}  // namespace dbstate
