// The UTF-16 SQLite wrapper: the exception and its messages, statements through
// both execDML paths, the cursor, scalars, table probes, the connection's life and
// its busy timeout. Every case works on a file in its own scratch directory.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>

#include "TestSupport.h"
#include "sqlite/CppSQLite3.h"

using namespace testing_support;

namespace {

// The message of what f raised ("nothing raised" when it raised nothing).
template <typename F>
std::string Raised(F f)
{
    try {
        f();
    } catch (const CppSQLite3Exception& e) {
        const CppSQLite3Exception copy(e);  // copying keeps the detail
        return Narrow(copy.errorMessage());
    }
    return "nothing raised";
}

std::string Field(CppSQLite3Query& q, int n) { return Narrow(q.fieldValue(n)); }

const char s_szNullVM[] = "CPPSQLITE_ERROR[1000]: Null Virtual Machine pointer";

class SqliteDb : public ::testing::Test {
protected:
    void SetUp() override { db.open(Wide(m_strPath).c_str()); }
    int Exec(const char* pszSQL) { return db.execDML(Wide(pszSQL).c_str()); }
    int Scalar(const char* pszSQL) { return db.execScalar(Wide(pszSQL).c_str()); }
    CppSQLite3Query Query(const char* pszSQL) { return db.execQuery(Wide(pszSQL).c_str()); }

    CTempDir m_dir;
    const std::string m_strPath = m_dir.Join("kalender-\xC3\xBC\xF0\x9F\x98\x80.db");
    CppSQLite3DB db;  // declared after the directory so it closes before the directory goes
};

TEST(SqliteException, MessagesNameTheCodeAndKeepACopyOfTheirDetail)
{
    EXPECT_EQ(Raised([] { throw CppSQLite3Exception(5); }), "SQLITE_BUSY[5]: ");
    EXPECT_EQ(Raised([] { throw CppSQLite3Exception(0x113); }), "UNKNOWN_ERROR[275]: ");
    WCHAR szDetail[] = WTEXT("first");
    CppSQLite3Exception* pOriginal = new CppSQLite3Exception(19, szDetail);
    szDetail[0] = u'X';
    CppSQLite3Exception assigned(0);
    assigned = *pOriginal;
    delete pOriginal;
    EXPECT_EQ(Narrow(assigned.errorMessage()), "SQLITE_CONSTRAINT[19]: first");
}

TEST_F(SqliteDb, ExecDmlRunsTheFirstStatementAndReportsFailures)
{
    ASSERT_EQ(Exec("create table t(id integer primary key, name text not null)"), 1);
    EXPECT_EQ(Exec("update t set name = 'x' where id = 42"), 1);
    // Only the first statement of a text runs.
    EXPECT_EQ(Exec("insert into t values(1, 'one'); insert into t values(2, 'two');"), 1);
    EXPECT_EQ(Raised([&] { Exec("selec * from t"); }), "SQLITE_ERROR[1]: ");
    EXPECT_EQ(Raised([&] { Exec("insert into t(id) values(9)"); }),
              "SQLITE_CONSTRAINT[19]: NOT NULL constraint failed: t.name");

    // The exact transaction texts take their own path and report sqlite3_changes,
    // which still holds the last insert's count; anything else is a prepared statement.
    EXPECT_EQ(Exec("insert into t values(2, 'two'), (3, 'three'), (4, 'four')"), 1);
    EXPECT_EQ(Exec("begin transaction;"), 3);
    EXPECT_EQ(Exec("commit transaction;"), 3);
    EXPECT_EQ(Exec("BEGIN TRANSACTION;"), 1);
    EXPECT_EQ(Exec("commit transaction "), 1);
    const char* const pszNoTransaction = "SQLITE_ERROR[1]: cannot commit - no transaction is active";
    EXPECT_EQ(Raised([&] { Exec("commit transaction;"); }), pszNoTransaction);
    EXPECT_EQ(Raised([&] { Exec("COMMIT TRANSACTION;"); }), pszNoTransaction);
    EXPECT_EQ(Scalar("select count(*) from t"), 4);  // the connection survives its failures
}

TEST_F(SqliteDb, ACursorGuardsItsStateAndReleasesItsStatement)
{
    static_assert(!std::is_copy_constructible<CppSQLite3Query>::value, "a cursor must not be copied");
    Exec("create table t(id int, name text)");
    Exec("insert into t values(1, null), (-9223372036854775808, 'min')");
    Exec("create table u as select 7 as id");
    CppSQLite3Query q = Query("select id, name from t order by rowid");
    EXPECT_EQ(q.fieldValue(1), nullptr);
    EXPECT_EQ(Raised([&] { q.fieldValue(2); }), "CPPSQLITE_ERROR[1000]: Invalid field index requested");
    // Moved, and assigned over a live cursor: the statements are released once each.
    CppSQLite3Query target = Query("select id from u");
    target = std::move(q);
    EXPECT_EQ(Raised([&] { q.eof(); }), s_szNullVM);
    target.finalize();
    EXPECT_NO_THROW(Exec("drop table u")) << "a read is still pending";
    // A step that fails on a later row finalizes the statement before raising.
    CppSQLite3Query overflow = Query("select abs(id) from t order by rowid");
    EXPECT_EQ(Raised([&] { overflow.nextRow(); }), "SQLITE_ERROR[1]: integer overflow");
    EXPECT_EQ(Raised([&] { overflow.eof(); }), s_szNullVM);
}

TEST_F(SqliteDb, ScalarsReadTheDecimalPrefixAndTableProbesSeeOnlyTables)
{
    Exec("create table cal(a int)");
    Exec("create index idx on cal(a)");
    EXPECT_EQ(Scalar("select '  42abc'"), 42);
    EXPECT_EQ(Scalar("select '-17 apples'"), -17);
    EXPECT_EQ(Scalar("select 'abc'") + Scalar("select null"), 0);
    EXPECT_EQ(Raised([&] { Scalar("select a from cal"); }), "CPPSQLITE_ERROR[1000]: Invalid scalar query");
    EXPECT_EQ(Raised([&] { Scalar("  -- nothing"); }), s_szNullVM);

    EXPECT_TRUE(db.tableExists(WTEXT("cal")));
    EXPECT_FALSE(db.tableExists(WTEXT("idx")));
    // 190 characters is the longest name whose query fits the 256-character buffer.
    Exec(("create table " + std::string(190, 'n') + "(a int)").c_str());
    EXPECT_TRUE(db.tableExists(Wide(std::string(190, 'n')).c_str()));
    EXPECT_EQ(Raised([&] { db.tableExists(Wide(std::string(191, 'n')).c_str()); }),
              "UNKNOWN_ERROR[102]: tableName too big!");
    EXPECT_EQ(Raised([&] { db.tableExists(nullptr); }), "UNKNOWN_ERROR[102]: tableName too big!");
}

TEST_F(SqliteDb, TextAndFileNamesBeyondAsciiRoundTripAndTheShellAgrees)
{
    // Two-, three- and four-byte UTF-8 forms; the last two need surrogate pairs.
    const std::string strMixed = "Gr\xC3\xBC\xC3\x9F" "e \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80\xF0\x9D\x84\x9E";
    Exec("create table t(id int, v text)");
    Exec(("insert into t values(1, '" + strMixed + "')").c_str());
    EXPECT_EQ(Scalar("select length(v) from t"), 11) << "a split surrogate pair would change the length";
    db.close();
    EXPECT_EQ(Raised([&] { Exec("begin transaction;"); }), "CPPSQLITE_ERROR[1000]: Database not open");
    EXPECT_EQ(RunSqliteShell(m_strPath, "select v from t; insert into t values(2, '" + strMixed + "!');"),
              strMixed + "\n");
    db.open(Wide(m_strPath).c_str());
    CppSQLite3Query q = Query("select v from t where id = 2");
    EXPECT_EQ(Field(q, 0), strMixed + "!");
    CppSQLite3DB missing;
    EXPECT_EQ(Raised([&] { missing.open(Wide(m_dir.Join("no/such/dir/x.db")).c_str()); }),
              "SQLITE_CANTOPEN[14]: unable to open database file");
}

TEST_F(SqliteDb, AWriteWaitsForAnotherConnectionsLock)
{
    Exec("create table t(a int)");
    CppSQLite3DB holder;
    holder.open(Wide(m_strPath).c_str());
    ASSERT_EQ(holder.execDML(WTEXT("begin exclusive;")), 1);
    // Without the busy timeout the insert fails at once with SQLITE_BUSY.
    const auto tStart = std::chrono::steady_clock::now();
    std::thread releaser([&holder] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        holder.execDML(WTEXT("commit;"));
    });
    EXPECT_NO_THROW(Exec("insert into t values(1)"));
    releaser.join();
    EXPECT_GE(std::chrono::steady_clock::now() - tStart, std::chrono::milliseconds(150));
    EXPECT_EQ(Scalar("select count(*) from t"), 1);
}

}  // namespace
