// The settings file: a plain INI text file read whole into records and written
// back whole. Names compare exactly (byte for byte, case-sensitive).
//
// Format as written: each record's comment lines, then either " [section]" or
// " key=value" (a space, or the "#"/";" of a commented-out record, in front), each
// line ending in CR LF. Reading accepts LF or CR LF, ignores blank lines and
// leading or trailing blanks, tabs and CRs, attaches comment lines to the record
// that follows them, and counts commented-out records like active ones.
#pragma once

#include <string>
#include <vector>

#include "compat/fileio.h"
#include "compat/win32.h"

struct IniRecord {
    std::string comments;  // comment lines above the record, each ending in "\n"
    char commentChar;      // ' ' for an active record, '#' or ';' for a commented-out one
    std::string section;
    std::string key;  // empty for a section header
    std::string value;
};

namespace IniFile {

// Reads the file into content; false (content untouched) when it cannot be read.
bool Load(const std::string& strPath, std::vector<IniRecord>& content);

// Writes the content as the whole file through compat::ReplaceWholeFile, so that
// a failure part way, or another writer at the same time, leaves the old file
// whole; the new file keeps the old one's permissions. False when it could not be
// written, errno holding the cause.
bool Save(const std::string& strPath, const std::vector<IniRecord>& content);

// An empty file.
bool Create(const std::string& strPath);

// True when any record belongs to the section, or when the file cannot be read.
bool SectionExists(const std::string& strSection, const std::string& strPath);

// True when any record has the section and key, or when the file cannot be read.
bool RecordExists(const std::string& strKey, const std::string& strSection, const std::string& strPath);

// A copy of the first record with the section and key, or nothing.
std::vector<IniRecord> GetRecord(const std::string& strKey, const std::string& strSection, const std::string& strPath);

// The value of that record; "" when there is none (or its value is empty).
std::string GetValue(const std::string& strKey, const std::string& strSection, const std::string& strPath);

// Changes the value of the record, or adds the key as the first of its section, or
// adds the section with the key at the end. False, and nothing written, when the
// file cannot be read (a missing file stays missing) or written.
bool SetValue(const std::string& strKey, const std::string& strValue, const std::string& strSection,
              const std::string& strPath);

// Removes the first record with the section and key, with its comments. False,
// and nothing written, when there is none or the file cannot be read.
bool DeleteRecord(const std::string& strKey, const std::string& strSection, const std::string& strPath);

// Tests only: make the next Save fail after this many bytes (negative: never).
void SetWriteFailureForTesting(long long cbFailAfter);

// Tests only: the steps of replacing the file. The hook is asked before each
// step a Save takes; false makes that step fail as the disk would. Null: none.
using compat::EWriteStep;
using compat::PFN_WRITE_STEP_HOOK;
void SetWriteStepHook(PFN_WRITE_STEP_HOOK pfnHook, void* pContext);

}  // namespace IniFile

// A text with no form in the narrow code page, or narrow text that is not valid
// in it: the UTF-16 adapters refuse it rather than write a substitute.
class CIniTextError {};

// The UTF-16 side of the settings file, for the configuration store. Texts and
// the path are converted to the narrow code page (UTF-8 off Windows); a text that
// cannot be converted raises CIniTextError.
bool EnsureIniFile(const WCHAR* pszPath);
bool ReadIniString(const WCHAR* pszSection, const WCHAR* pszKey, WCHAR* pszBuffer, size_t cchBuffer,
                   const WCHAR* pszPath);
bool WriteIniString(const WCHAR* pszSection, const WCHAR* pszKey, const WCHAR* pszValue, const WCHAR* pszPath);
bool DeleteIniKey(const WCHAR* pszSection, const WCHAR* pszKey, const WCHAR* pszPath);
