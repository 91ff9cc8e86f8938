// The UTF-16 SQLite wrapper: the exception and its messages, statements through
// both execDML paths, the cursor, scalars, table probes, the connection's life and
// its busy timeout. Every case works on a file in its own scratch directory.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>

#include "TestSupport.h"
#include "sqlite/CppSQLite3.h"

using namespace testing_support;

namespace {

// Runs f and hands back what it raised; a copy, so copying is exercised as well.
template <typename F>
CppSQLite3Exception Raised(F f)
{
    try {
        f();
    } catch (const CppSQLite3Exception& e) {
        return e;
    }
    ADD_FAILURE() << "no CppSQLite3Exception raised";
    return CppSQLite3Exception(-999, WTEXT("nothing raised"));
}

std::string Message(const CppSQLite3Exception& e) { return Narrow(e.errorMessage()); }
std::string Field(CppSQLite3Query& q, int n) { return Narrow(q.fieldValue(n)); }

// Text with two-, three- and four-byte UTF-8 forms; the last two need surrogate pairs.
const char s_szMixed[] = "Gr\xC3\xBC\xC3\x9F" "e \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80\xF0\x9D\x84\x9E";
const int s_nMixedCodePoints = 11;

class SqliteDb : public ::testing::Test {
protected:
    void SetUp() override { db.open(Wide(m_dir.Join("test.db")).c_str()); }
    int Exec(const char* pszSQL) { return db.execDML(Wide(pszSQL).c_str()); }
    int Scalar(const char* pszSQL) { return db.execScalar(Wide(pszSQL).c_str()); }
    CppSQLite3Query Query(const char* pszSQL) { return db.execQuery(Wide(pszSQL).c_str()); }

    CTempDir m_dir;
    CppSQLite3DB db;  // declared after the directory so it closes before the directory goes
};

TEST(SqliteException, MessageFormatNamesAndCopies)
{
    EXPECT_EQ(Message(CppSQLite3Exception(1000, WTEXT("Database not open"))), "CPPSQLITE_ERROR[1000]: Database not open");
    EXPECT_EQ(Message(CppSQLite3Exception(5)), "SQLITE_BUSY[5]: ");
    EXPECT_EQ(Message(CppSQLite3Exception(102, WTEXT("tableName too big!"))), "UNKNOWN_ERROR[102]: tableName too big!");
    EXPECT_EQ(Message(CppSQLite3Exception(-1)), "UNKNOWN_ERROR[-1]: ");
    EXPECT_EQ(CppSQLite3Exception(101).errorCode(), 101);

    // The names end up in the store's trace lines; a typo or shifted entry matters.
    static const char* const s_rgNames[] = {
        "SQLITE_OK", "SQLITE_ERROR", "SQLITE_INTERNAL", "SQLITE_PERM", "SQLITE_ABORT", "SQLITE_BUSY",
        "SQLITE_LOCKED", "SQLITE_NOMEM", "SQLITE_READONLY", "SQLITE_INTERRUPT", "SQLITE_IOERR", "SQLITE_CORRUPT",
        "SQLITE_NOTFOUND", "SQLITE_FULL", "SQLITE_CANTOPEN", "SQLITE_PROTOCOL", "SQLITE_EMPTY", "SQLITE_SCHEMA",
        "SQLITE_TOOBIG", "SQLITE_CONSTRAINT", "SQLITE_MISMATCH", "SQLITE_MISUSE", "SQLITE_NOLFS", "SQLITE_AUTH",
        "SQLITE_FORMAT", "SQLITE_RANGE"};
    for (int n = 0; n < 26; ++n) {
        EXPECT_EQ(Narrow(CppSQLite3Exception::errorCodeAsString(n)), s_rgNames[n]) << "code " << n;
    }
    EXPECT_EQ(Narrow(CppSQLite3Exception::errorCodeAsString(100)), "SQLITE_ROW");
    EXPECT_EQ(Narrow(CppSQLite3Exception::errorCodeAsString(101)), "SQLITE_DONE");
    EXPECT_EQ(Narrow(CppSQLite3Exception::errorCodeAsString(1000)), "CPPSQLITE_ERROR");
    for (int n : {-1, 26, 99, 102, 999, 1001, 0x113}) {  // 0x113: an extended code is not in the table
        EXPECT_EQ(Narrow(CppSQLite3Exception::errorCodeAsString(n)), "UNKNOWN_ERROR") << "code " << n;
    }

    // Without the ownership flag the detail is copied, not kept by pointer.
    WCHAR szDetail[] = WTEXT("first");
    CppSQLite3Exception* pOriginal = new CppSQLite3Exception(19, szDetail);
    szDetail[0] = u'X';
    CppSQLite3Exception copy(*pOriginal);
    CppSQLite3Exception assigned(0);
    assigned = *pOriginal;
    delete pOriginal;
    EXPECT_EQ(copy.errorCode(), 19);
    EXPECT_EQ(Message(copy), "SQLITE_CONSTRAINT[19]: first");
    EXPECT_EQ(assigned.errorCode(), 19);
    EXPECT_EQ(Message(assigned), "SQLITE_CONSTRAINT[19]: first");
}

TEST(SqliteException, ReleasesOwnedDetail)
{
    // Under the sanitizer build a missing release shows as a leak, a second one as a double free.
    const WString strText = WTEXT("owned text");
    WCHAR* pszOwned = new WCHAR[strText.size() + 1];
    std::memcpy(pszOwned, strText.c_str(), (strText.size() + 1) * sizeof(WCHAR));
    CppSQLite3Exception e(21, pszOwned, true);
    EXPECT_EQ(Message(e), "SQLITE_MISUSE[21]: owned text");
    CppSQLite3Exception copy(e);
    EXPECT_EQ(Message(copy), "SQLITE_MISUSE[21]: owned text");
    EXPECT_EQ(Message(CppSQLite3Exception(21, nullptr, true)), "SQLITE_MISUSE[21]: ");
}

TEST_F(SqliteDb, TransactionCommandsTakeTheirOwnPath)
{
    EXPECT_EQ(Exec("begin transaction;"), 0);
    EXPECT_EQ(Exec("commit transaction;"), 0);

    // The exact texts report sqlite3_changes, which still holds the last insert's count.
    ASSERT_EQ(Exec("create table t(a integer)"), 1);
    ASSERT_EQ(Exec("insert into t select 1 union all select 2 union all select 3"), 1);
    EXPECT_EQ(Exec("begin transaction;"), 3);
    EXPECT_EQ(Exec("commit transaction;"), 3);

    // Anything else, however close, is an ordinary prepared statement.
    EXPECT_EQ(Exec("BEGIN TRANSACTION;"), 1);
    EXPECT_EQ(Exec("COMMIT TRANSACTION;"), 1);
    EXPECT_EQ(Exec("begin transaction"), 1);
    EXPECT_EQ(Exec("commit transaction"), 1);
    EXPECT_EQ(Exec(" begin transaction;"), 1);
    EXPECT_EQ(Exec("commit transaction; "), 1);

    CppSQLite3Exception e = Raised([&] { Exec("commit transaction;"); });
    EXPECT_EQ(e.errorCode(), 1);
    EXPECT_EQ(Message(e), "SQLITE_ERROR[1]: cannot commit - no transaction is active");
    e = Raised([&] { Exec("COMMIT TRANSACTION;"); });
    EXPECT_EQ(e.errorCode(), 1);
    EXPECT_EQ(Message(e), "SQLITE_ERROR[1]: cannot commit - no transaction is active");

    EXPECT_EQ(Scalar("select count(*) from t"), 3);  // the connection survives its failures
}

TEST_F(SqliteDb, ExecDmlCountsAndFailures)
{
    ASSERT_EQ(Exec("create table t(id integer primary key, name text not null)"), 1);
    EXPECT_EQ(Exec("update t set name = 'x' where id = 42"), 1);
    EXPECT_EQ(Exec("insert into t values(1, 'one')"), 1);
    EXPECT_EQ(Exec("insert into t values(2, 'two')"), 1);
    EXPECT_EQ(Exec("select * from t"), 1);

    // Only the first statement of a text runs.
    EXPECT_EQ(Exec("insert into t values(3, 'three'); insert into t values(4, 'four');"), 1);
    EXPECT_EQ(Scalar("select count(*) from t"), 3);

    CppSQLite3Exception e = Raised([&] { Exec("selec * from t"); });
    EXPECT_EQ(e.errorCode(), 1);
    EXPECT_EQ(Message(e), "SQLITE_ERROR[1]: ");

    e = Raised([&] { Exec("insert into t(id) values(9)"); });
    EXPECT_EQ(e.errorCode(), 19);
    EXPECT_EQ(Message(e), "SQLITE_CONSTRAINT[19]: NOT NULL constraint failed: t.name");
    e = Raised([&] { Exec("insert into t values(1, 'again')"); });
    EXPECT_EQ(e.errorCode(), 19);
    EXPECT_EQ(Message(e), "SQLITE_CONSTRAINT[19]: UNIQUE constraint failed: t.id");

    EXPECT_EQ(Scalar("select count(*) from t"), 3);
}

TEST_F(SqliteDb, CursorWalksRowsAndGuardsItsState)
{
    ASSERT_EQ(Exec("create table t(id int, name text, extra text)"), 1);
    Exec("insert into t values(1, 'one', null)");
    Exec("insert into t values(2, 'two', 'x')");

    CppSQLite3Query q = Query("select id, name, extra from t order by id");
    EXPECT_EQ(q.numFields(), 3);
    ASSERT_FALSE(q.eof());
    EXPECT_EQ(Field(q, 0), "1");
    EXPECT_EQ(Field(q, 1), "one");
    EXPECT_EQ(q.fieldValue(2), nullptr);
    q.nextRow();
    ASSERT_FALSE(q.eof());
    EXPECT_EQ(Field(q, 0), "2");
    EXPECT_EQ(Field(q, 2), "x");
    for (int n : {-1, 3}) {
        CppSQLite3Exception e = Raised([&] { q.fieldValue(n); });
        EXPECT_EQ(e.errorCode(), 1000);
        EXPECT_EQ(Message(e), "CPPSQLITE_ERROR[1000]: Invalid field index requested") << "index " << n;
    }
    q.nextRow();
    EXPECT_TRUE(q.eof());

    q.finalize();
    EXPECT_NO_THROW(q.finalize());
    const char* const pszNullVM = "CPPSQLITE_ERROR[1000]: Null Virtual Machine pointer";
    EXPECT_EQ(Message(Raised([&] { q.eof(); })), pszNullVM);
    EXPECT_EQ(Message(Raised([&] { q.nextRow(); })), pszNullVM);
    EXPECT_EQ(Message(Raised([&] { q.fieldValue(0); })), pszNullVM);

    CppSQLite3Query empty = Query("select id, name from t where id > 10");
    EXPECT_TRUE(empty.eof());
    EXPECT_EQ(empty.numFields(), 2);

    // A step that fails on a later row finalizes the statement before raising.
    Exec("create table n(v integer)");
    Exec("insert into n values(1)");
    Exec("insert into n values(-9223372036854775808)");
    CppSQLite3Query overflow = Query("select abs(v) from n order by rowid");
    EXPECT_EQ(Field(overflow, 0), "1");
    CppSQLite3Exception e = Raised([&] { overflow.nextRow(); });
    EXPECT_EQ(e.errorCode(), 1);
    EXPECT_EQ(Message(e), "SQLITE_ERROR[1]: integer overflow");
    EXPECT_EQ(Message(Raised([&] { overflow.eof(); })), pszNullVM);
}

TEST_F(SqliteDb, CursorIsMoveOnly)
{
    static_assert(!std::is_copy_constructible<CppSQLite3Query>::value, "a cursor must not be copied");
    static_assert(!std::is_copy_assignable<CppSQLite3Query>::value, "a cursor must not be copied");

    Exec("create table t(id int)");
    Exec("insert into t values(1), (2), (3)");
    Exec("create table u(id int)");
    Exec("insert into u values(7)");

    CppSQLite3Query outer;
    {
        CppSQLite3Query first = Query("select id from t order by id");
        CppSQLite3Query second(std::move(first));
        EXPECT_EQ(Message(Raised([&] { first.eof(); })), "CPPSQLITE_ERROR[1000]: Null Virtual Machine pointer");
        EXPECT_EQ(Field(second, 0), "1");
        outer = std::move(second);
    }  // neither moved-from cursor may finalize the statement now held by outer
    outer.nextRow();
    EXPECT_EQ(Field(outer, 0), "2");

    // Assigning over a live cursor releases its statement: once the moved-in one is
    // finalized too, no pending read is left to lock the table against a drop.
    CppSQLite3Query target = Query("select id from u");
    ASSERT_FALSE(target.eof());
    target = std::move(outer);
    EXPECT_EQ(Field(target, 0), "2");
    target.nextRow();
    EXPECT_EQ(Field(target, 0), "3");
    target.finalize();
    EXPECT_NO_THROW(Exec("drop table u"));
}

TEST_F(SqliteDb, ExecScalarReadsDecimalPrefix)
{
    Exec("create table e(x int)");
    EXPECT_EQ(Scalar("select count(*) from e"), 0);
    EXPECT_EQ(Scalar("select '  42abc'"), 42);
    EXPECT_EQ(Scalar("select '-17 apples'"), -17);
    EXPECT_EQ(Scalar("select 'abc'"), 0);
    EXPECT_EQ(Scalar("select null"), 0);
    EXPECT_EQ(Scalar("select 7, 8"), 7);

    CppSQLite3Exception e = Raised([&] { Scalar("select x from e"); });
    EXPECT_EQ(e.errorCode(), 1000);
    EXPECT_EQ(Message(e), "CPPSQLITE_ERROR[1000]: Invalid scalar query");
    EXPECT_EQ(Raised([&] { Scalar("select nope from e"); }).errorCode(), 1);
    // A text without a statement compiles to nothing; there is no cursor to read.
    EXPECT_EQ(Message(Raised([&] { Scalar("  -- nothing"); })), "CPPSQLITE_ERROR[1000]: Null Virtual Machine pointer");
}

TEST_F(SqliteDb, TableExistsSeesOnlyTables)
{
    Exec("create table cal(a int)");
    Exec("create index idx on cal(a)");
    Exec("create view vw as select a from cal");
    EXPECT_TRUE(db.tableExists(WTEXT("cal")));
    EXPECT_FALSE(db.tableExists(WTEXT("missing")));
    EXPECT_FALSE(db.tableExists(WTEXT("idx")));
    EXPECT_FALSE(db.tableExists(WTEXT("vw")));

    // 190 characters is the longest name whose query fits the 256-character buffer.
    const std::string strLongest(190, 'n');
    Exec(("create table " + strLongest + "(a int)").c_str());
    EXPECT_TRUE(db.tableExists(Wide(strLongest).c_str()));

    const char* const pszTooBig = "UNKNOWN_ERROR[102]: tableName too big!";
    CppSQLite3Exception e = Raised([&] { db.tableExists(nullptr); });
    EXPECT_EQ(e.errorCode(), 102);
    EXPECT_EQ(Message(e), pszTooBig);
    for (size_t cch : {191, 300, 5000}) {
        e = Raised([&] { db.tableExists(Wide(std::string(cch, 'n')).c_str()); });
        EXPECT_EQ(e.errorCode(), 102) << cch << " characters";
        EXPECT_EQ(Message(e), pszTooBig) << cch << " characters";
    }
}

TEST_F(SqliteDb, NonAsciiTextRoundTripsAndShellAgrees)
{
    Exec("create table t(id int, v text)");
    ASSERT_EQ(Exec((std::string("insert into t values(1, '") + s_szMixed + "')").c_str()), 1);
    CppSQLite3Query q = Query("select v from t");
    EXPECT_TRUE(WStrCmp(q.fieldValue(0), Wide(s_szMixed).c_str()) == 0) << Field(q, 0);
    q.finalize();
    // SQLite counts characters, so a split surrogate pair would change the length.
    EXPECT_EQ(Scalar("select length(v) from t"), s_nMixedCodePoints);
    db.close();

    int nStatus = -1;
    const std::string strPath = m_dir.Join("test.db");
    EXPECT_EQ(RunSqliteShell(strPath, "select v from t where id = 1;", &nStatus), std::string(s_szMixed) + "\n");
    EXPECT_EQ(nStatus, 0);

    // And the other way round: text the tool wrote reads back as the same UTF-16.
    RunSqliteShell(strPath, std::string("insert into t values(2, '") + s_szMixed + "!');", &nStatus);
    ASSERT_EQ(nStatus, 0);
    db.open(Wide(strPath).c_str());
    q = Query("select v from t where id = 2");
    EXPECT_EQ(Field(q, 0), std::string(s_szMixed) + "!");
}

TEST(SqliteConnection, OpenCloseAndNonAsciiFileName)
{
    CTempDir dir;
    const std::string strPath = dir.Join("kalender-\xC3\xBC\xF0\x9F\x98\x80.db");
    CppSQLite3DB db;
    db.open(Wide(strPath).c_str());
    EXPECT_TRUE(db.isOpen());
    db.execDML(WTEXT("create table t(a int)"));
    db.execDML(WTEXT("insert into t values(5)"));
    EXPECT_TRUE(FileExists(strPath));  // the UTF-16 name reached the file system intact

    db.close();
    db.close();
    EXPECT_FALSE(db.isOpen());
    const char* const pszNotOpen = "CPPSQLITE_ERROR[1000]: Database not open";
    EXPECT_EQ(Message(Raised([&] { db.execDML(WTEXT("select 1")); })), pszNotOpen);
    EXPECT_EQ(Message(Raised([&] { db.execQuery(WTEXT("select 1")); })), pszNotOpen);
    EXPECT_EQ(Message(Raised([&] { db.execScalar(WTEXT("select 1")); })), pszNotOpen);
    EXPECT_EQ(Message(Raised([&] { db.tableExists(WTEXT("t")); })), pszNotOpen);
    EXPECT_EQ(Message(Raised([&] { db.execDML(WTEXT("begin transaction;")); })), pszNotOpen);

    db.open(Wide(strPath).c_str());
    EXPECT_EQ(db.execScalar(WTEXT("select a from t")), 5);

    CppSQLite3DB missing;
    CppSQLite3Exception e = Raised([&] { missing.open(Wide(dir.Join("no/such/dir/x.db")).c_str()); });
    EXPECT_EQ(e.errorCode(), 14);
    EXPECT_EQ(Message(e), "SQLITE_CANTOPEN[14]: unable to open database file");
    EXPECT_FALSE(FileExists(dir.Join("no")));
}

TEST(SqliteConnection, WriteWaitsForAnotherConnectionsLock)
{
    CTempDir dir;
    const WString strPath = Wide(dir.Join("busy.db"));
    CppSQLite3DB db;
    db.open(strPath.c_str());
    db.execDML(WTEXT("create table t(a int)"));

    CppSQLite3DB holder;
    holder.open(strPath.c_str());
    ASSERT_EQ(holder.execDML(WTEXT("begin exclusive;")), 1);

    // Without the busy timeout the insert fails at once with SQLITE_BUSY.
    const auto tStart = std::chrono::steady_clock::now();
    std::thread releaser([&holder] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        holder.execDML(WTEXT("commit;"));
    });
    EXPECT_NO_THROW(db.execDML(WTEXT("insert into t values(1)")));
    const auto msElapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - tStart).count();
    releaser.join();
    EXPECT_GE(msElapsed, 150);
    EXPECT_EQ(db.execScalar(WTEXT("select count(*) from t")), 1);
}

}  // namespace
