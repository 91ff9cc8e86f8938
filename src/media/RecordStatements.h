// Statements, binding and row reading of the two records, all driven by the
// field tables: parameter ?n always carries the column at position n - 1.
#pragma once

#include <list>

#include "media/RecordFields.h"
#include "media/SqlText.h"
#include "sqlite/CppSQLite3.h"

// "insert into T(c0,c1,...) values(?1,?2,...);" over every column. Made once, on
// first use, as each record type has one table.
template <typename TRecord, typename TItem, size_t N>
const WString& InsertStatementOf(const WCHAR* pszTable, const CRecordField<TRecord, TItem> (&rgFields)[N])
{
    static const WString s_str = [&]() {
        WString strColumns;
        WString strValues;
        for (size_t i = 0; i < N; ++i) {
            strColumns += WString(i == 0 ? WTEXT("") : WTEXT(",")) + rgFields[i].pszColumn;
            strValues += WStrFormatString(WTEXT("%s?%d"), i == 0 ? WTEXT("") : WTEXT(","), int(i + 1));
        }
        return WString(WTEXT("insert into ")) + pszTable + WTEXT("(") + strColumns + WTEXT(") values(") + strValues +
               WTEXT(");");
    }();
    return s_str;
}

// "update T set c = ?n, ... where key = ?k and ...;": the columns an update sets,
// selected by the key columns. Made once, like the insert.
template <typename TRecord, typename TItem, size_t N>
const WString& UpdateStatementOf(const WCHAR* pszTable, const CRecordField<TRecord, TItem> (&rgFields)[N])
{
    static const WString s_str = [&]() {
        WString strSet;
        WString strWhere;
        for (size_t i = 0; i < N; ++i) {
            const WString strTerm = WStrFormatString(WTEXT("%s = ?%d"), rgFields[i].pszColumn, int(i + 1));
            if (rgFields[i].eUpdate == CU_SET) {
                strSet += (strSet.empty() ? WTEXT("") : WTEXT(", ")) + strTerm;
            } else if (rgFields[i].eUpdate == CU_KEY) {
                strWhere += (strWhere.empty() ? WTEXT("") : WTEXT(" and ")) + strTerm;
            }
        }
        return WString(WTEXT("update ")) + pszTable + WTEXT(" set ") + strSet + WTEXT(" where ") + strWhere +
               WTEXT(";");
    }();
    return s_str;
}

// Copies of texts that had to be made bindable; they live, unmoved, until the
// statement ran. Empty, as it nearly always is, it allocates nothing.
typedef std::list<WString> CBoundTexts;

inline void BindText(CppSQLite3Statement& stmt, int nParam, const WCHAR* pszText, size_t cchMax, CBoundTexts& copies)
{
    int cch = 0;
    if (TextNeedsRepair(pszText, cchMax, &cch)) {
        copies.push_back(EscapeQuotes(pszText, cchMax, false));
        stmt.bind(nParam, copies.back().c_str(), static_cast<int>(copies.back().size()));
    } else {
        stmt.bind(nParam, pszText, cch);
    }
}

enum EBindFor { BIND_INSERT, BIND_UPDATE, BIND_KEY };

// Binds what the statement of that kind takes from the record: every column for an
// insert (constants where the record has no member), the set and key columns for
// an update, the key columns alone for a keyed select or delete.
template <typename TRecord, typename TItem, size_t N>
void BindRecord(CppSQLite3Statement& stmt, const TRecord& rec, const CRecordField<TRecord, TItem> (&rgFields)[N],
                EBindFor eFor, CBoundTexts& copies)
{
    const int nParams = stmt.bindParameterCount();
    for (size_t i = 0; i < N && static_cast<int>(i) < nParams; ++i) {
        const CRecordField<TRecord, TItem>& field = rgFields[i];
        const int nParam = static_cast<int>(i + 1);
        if ((eFor == BIND_UPDATE && field.eUpdate == CU_KEEP) || (eFor == BIND_KEY && field.eUpdate != CU_KEY)) {
            continue;
        }
        if (eFor == BIND_INSERT && field.eInsert == CI_EMPTY_TEXT) {
            stmt.bind(nParam, WTEXT(""), 0);
        } else if (eFor == BIND_INSERT && field.eInsert == CI_ZERO) {
            stmt.bind(nParam, 0);
        } else if (field.eType == RFT_TEXT) {
            BindText(stmt, nParam, FieldText(rec, field), field.cchText - 1, copies);
        } else {
            stmt.bind(nParam, static_cast<int>(FieldInt(rec, field)));
        }
    }
}

// Updates the record's row with the connection's statement in nSlot.
template <typename TRecord, typename TItem, size_t N>
void RunRecordUpdate(CppSQLite3DB& db, int nSlot, const WCHAR* pszTable,
                     const CRecordField<TRecord, TItem> (&rgFields)[N], const TRecord& rec)
{
    CBoundTexts copies;
    CppSQLite3Statement update = db.cachedStatement(nSlot, UpdateStatementOf(pszTable, rgFields).c_str());
    BindRecord(update, rec, rgFields, BIND_UPDATE, copies);
    update.execDML();
}

// Fills the record from the current row, read by position: each number keeps the
// bits its member holds (Day its low byte, signed), each text is cut at its bound.
// A row of fewer than nColumnsNeeded columns is refused.
template <typename TCursor, typename TRecord, typename TItem, size_t N>
void ReadRecordRow(TCursor& cursor, TRecord& rec, const CRecordField<TRecord, TItem> (&rgFields)[N], int nColumnsNeeded)
{
    if (cursor.numFields() < nColumnsNeeded) {
        throw CppSQLite3Exception(CPPSQLITE_ERROR, WTEXT("Invalid field index requested"));
    }
    for (size_t i = 0; i < N; ++i) {
        const CRecordField<TRecord, TItem>& field = rgFields[i];
        const int nColumn = static_cast<int>(i);
        if (field.eRead == CR_NOT_READ || field.eType == RFT_NONE) {
            continue;
        }
        if (field.eType == RFT_TEXT) {
            CopyColumnText(FieldText(rec, field), field.cchText, cursor.fieldValue(nColumn));
        } else if (field.eRead == CR_LOW_BYTE_SIGNED) {
            SetFieldInt(rec, field, static_cast<int32_t>(static_cast<signed char>(cursor.fieldInt(nColumn) & 0xFF)));
        } else {
            SetFieldInt(rec, field, cursor.fieldInt(nColumn));
        }
    }
}

// The number of leading columns a record is read from (the last one it reads, plus one).
template <typename TRecord, typename TItem, size_t N>
int ReadColumnsOf(const CRecordField<TRecord, TItem> (&rgFields)[N])
{
    int nColumns = 0;
    for (size_t i = 0; i < N; ++i) {
        if (rgFields[i].eRead != CR_NOT_READ && rgFields[i].eType != RFT_NONE) {
            nColumns = static_cast<int>(i + 1);
        }
    }
    return nColumns;
}

// The slots of the statements a connection keeps prepared.
enum ESqlSlot {
    SQL_CALENDAR_EXISTS,
    SQL_CALENDAR_SELECT,
    SQL_CALENDAR_INSERT,
    SQL_CALENDAR_UPDATE,
    SQL_CALENDAR_LIST,
    SQL_CALENDAR_DELETE,
    SQL_CALENDAR_DELETE_ALL,
    SQL_EVENT_EXISTS,
    SQL_EVENT_SELECT,
    SQL_EVENT_INSERT,
    SQL_EVENT_UPDATE,
    SQL_EVENT_LIST,
    SQL_EVENT_LIST_PERIOD,
    SQL_EVENT_CHUNK,
    SQL_EVENT_CHUNK_PERIOD,
    SQL_EVENT_LAST_ROW,
    SQL_EVENT_DELETE,
    SQL_EVENT_DELETE_EXCEPTIONS,
    SQL_EVENT_DELETE_ALL,
    SQL_EVENT_DELETE_CALENDAR,
    SQL_EVENT_BY_EXTERNAL_ID,
    SQL_SAVEPOINT_DELETE,
    SQL_RELEASE_DELETE,
    SQL_ROLLBACK_DELETE,
};
