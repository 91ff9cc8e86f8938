// The UTF-16 SQLite wrapper: statements, the cursor's life and texts beyond ASCII.
// Its messages and the busy timeout are left to the media and process tests.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "TestSupport.h"
#include "sqlite/CppSQLite3.h"

using namespace testing_support;

namespace {

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

TEST_F(SqliteDb, OnlyTheFirstStatementRunsAndAMovedCursorReleasesItsStatement)
{
    Exec("create table t(id int, name text)");
    EXPECT_EQ(Exec("insert into t values(1, 'one'); insert into t values(2, 'two');"), 1);
    Exec("create table u as select 7 as id");
    CppSQLite3Query q = Query("select id, name from t");
    CppSQLite3Query target = Query("select id from u");
    target = std::move(q);
    target.finalize();
    EXPECT_NO_THROW(Exec("drop table u")) << "a read is still pending";
    EXPECT_EQ(Scalar("select count(*) from t"), 1);
}

TEST_F(SqliteDb, TextAndFileNamesBeyondAsciiRoundTripAndTheShellAgrees)
{
    // Two-, three- and four-byte UTF-8 forms; the last two need surrogate pairs.
    const std::string strMixed = "Gr\xC3\xBC\xC3\x9F" "e \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80\xF0\x9D\x84\x9E";
    Exec("create table t(id int, v text)");
    Exec(("insert into t values(1, '" + strMixed + "')").c_str());
    EXPECT_EQ(Scalar("select length(v) from t"), 11) << "a split surrogate pair would change the length";
    db.close();
    EXPECT_EQ(RunSqliteShell(m_strPath, "select v from t; insert into t values(2, '" + strMixed + "!');"),
              strMixed + "\n");
    db.open(Wide(m_strPath).c_str());
    CppSQLite3Query q = Query("select v from t where id = 2");
    EXPECT_EQ(Narrow(q.fieldValue(0)), strMixed + "!");
}

}  // namespace
