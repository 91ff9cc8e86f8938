// The UTF-16 SQLite wrapper with texts and file names beyond ASCII; the rest of it
// is exercised through the media, process and fault tests.
#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include "sqlite/CppSQLite3.h"

using namespace testing_support;

namespace {

TEST(SqliteDb, TextAndFileNamesBeyondAsciiRoundTripAndTheShellAgrees)
{
    CTempDir dir;
    const std::string strPath = dir.Join("kalender-\xC3\xBC\xF0\x9F\x98\x80.db");
    // Two-, three- and four-byte UTF-8 forms; the last two need surrogate pairs.
    const std::string strMixed = "Gr\xC3\xBC\xC3\x9F" "e \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80\xF0\x9D\x84\x9E";
    CppSQLite3DB db;  // declared after the directory so it closes before the directory goes
    db.open(Wide(strPath).c_str());
    db.execDML(WTEXT("create table t(v text)"));
    db.execDML(Wide("insert into t values('" + strMixed + "')").c_str());
    EXPECT_EQ(db.execScalar(WTEXT("select length(v) from t")), 11) << "a split pair would change the length";
    db.close();
    EXPECT_EQ(RunSqliteShell(strPath, "select v from t; insert into t values('" + strMixed + "!');"), strMixed + "\n");
    db.open(Wide(strPath).c_str());
    CppSQLite3Query q = db.execQuery(WTEXT("select v from t where rowid = 2"));
    EXPECT_EQ(Narrow(q.fieldValue(0)), strMixed + "!");
    q.finalize();

    // 190 characters is the longest table name whose probe fits its 256-character
    // query: found, and one more is refused rather than looked up cut.
    const std::string strLongest(190, 'n');
    db.execDML(Wide("create table " + strLongest + "(a int)").c_str());
    EXPECT_TRUE(db.tableExists(Wide(strLongest).c_str()));
    EXPECT_FALSE(db.tableExists(WTEXT("t2")));
    try {
        db.tableExists(Wide(strLongest + "n").c_str());
        ADD_FAILURE() << "a name too long for the probe was looked up";
    } catch (CppSQLite3Exception& e) {
        EXPECT_EQ(e.errorCode(), 102) << "refused as too big, not failed as a cut statement";
    }
}

}  // namespace
