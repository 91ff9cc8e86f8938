// Several processes on one store file: a first start raced by many writers, and a
// writer killed at random moments of its batch commits. After each, every
// acknowledged batch is stored whole, no batch in part, the file is sound, and no
// healthy file was taken for damaged. The writers' slow disk widens the windows.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "DbState.h"
#include "TestSupport.h"

using namespace testing_support;

namespace {

// A writer process (see store_writer.cpp), its output read through a pipe.
class CWriter {
public:
    explicit CWriter(const std::string& strArgs)
        : m_pFile(::popen(("exec " CALSTORE_WRITER_BINARY " " + strArgs).c_str(), "r"))
    {
    }
    ~CWriter()
    {
        Kill();
        Wait();
    }

    // Reads its output to its "ready" line, which names its process; false when it ended first.
    bool Ready()
    {
        long lPid = 0;
        return ReadLines([&](const char* pszLine) { return std::sscanf(pszLine, "ready %ld", &lPid) == 1; }) &&
               (m_pid = pid_t(lPid)) > 0;
    }
    void Kill()
    {
        if (m_pid > 0 && m_pFile != nullptr) {
            ::kill(m_pid, SIGKILL);
        }
    }
    // Waits for the end; returns its exit status (-1 when killed).
    int Wait()
    {
        const int nStatus = m_pFile != nullptr ? ::pclose(m_pFile) : -1;
        m_pFile = nullptr;
        return nStatus != -1 && WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    }
    // The acknowledged calendars with their event counts, from whole lines only.
    std::map<long, long> Acks()
    {
        std::map<long, long> acks;
        ReadLines([&](const char* pszLine) {
            long lCal = 0, lEvents = 0;
            if (std::sscanf(pszLine, "ack %ld %ld", &lCal, &lEvents) == 2) {
                acks[lCal] = lEvents;
            }
            return false;
        });
        return acks;
    }

private:
    // Hands each whole line to fnStop until it says stop; false at the end of the output.
    template <typename TFn>
    bool ReadLines(TFn fnStop)
    {
        char szLine[256];
        while (m_pFile != nullptr && std::fgets(szLine, sizeof(szLine), m_pFile) != nullptr) {
            if (std::strchr(szLine, '\n') != nullptr && fnStop(szLine)) {
                return true;
            }
        }
        return false;
    }

    FILE* m_pFile;
    pid_t m_pid = -1;
};

// Every acknowledged calendar is stored with all its events; every stored
// calendar has all nEvents of its own (a batch lands whole or not at all).
void ExpectStored(const std::string& strAccountDir, const std::map<long, long>& acks, long nEvents)
{
    const dbstate::CDbState state = dbstate::ReadDbState(strAccountDir + "/CalData.db");
    EXPECT_TRUE(state.Current()) << state.Describe();
    EXPECT_EQ("ok", state.strIntegrity);
    EXPECT_EQ(0, state.nDuplicateKeys);
    EXPECT_EQ(std::vector<std::string>{}, dbstate::BackupNames(strAccountDir)) << "a healthy file was taken for damaged";
    std::map<long, long> stored;  // each stored calendar with its count of events
    for (const std::string& strKey : state.keys) {
        stored[std::stol(strKey.substr(1))] += strKey[0] == 'E' ? 1 : 0;
    }
    for (const auto& [lCal, lEvents] : acks) {
        EXPECT_TRUE(state.keys.count("C" + std::to_string(lCal)) != 0) << "calendar " << lCal << " acknowledged, not stored";
    }
    for (const auto& [lCal, lCount] : stored) {
        EXPECT_EQ(nEvents, lCount) << "calendar " << lCal << " stored in part";
    }
}

TEST(ProcessTest, ManyFirstStartsAtOnceOnANewAccount)
{
    CTempDir root;
    for (int nRound = 0; nRound < 8; ++nRound) {
        const std::string strAccount = std::to_string(5000 + nRound);
        std::vector<std::unique_ptr<CWriter>> writers;
        for (int n = 1; n <= 8; ++n) {
            writers.emplace_back(new CWriter(root.Path() + " " + strAccount + " " + std::to_string(n) + " 1 3"));  // one round of 3 events
            ASSERT_TRUE(writers.back()->Ready());  // loaded and waiting
        }
        ASSERT_TRUE(WriteFile(root.Join(strAccount + ".go"), ""));  // releases them at once
        std::map<long, long> acks;
        for (auto& pWriter : writers) {
            const std::map<long, long> mine = pWriter->Acks();
            acks.insert(mine.begin(), mine.end());
            EXPECT_EQ(0, pWriter->Wait()) << "a writer could not store its calendar";
        }
        SCOPED_TRACE("account " + strAccount);
        ExpectStored(root.Join(strAccount), acks, 3);
    }
}

TEST(ProcessTest, AWriterKilledDuringItsCommitsLosesNothingAcknowledged)
{
    CTempDir root;
    ASSERT_TRUE(WriteFile(root.Join("6000.go"), ""));
    std::mt19937 random(20240611u);
    std::uniform_int_distribution<int> delayMs(2, 200);
    std::map<long, long> acks;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    for (long nRun = 0; std::chrono::steady_clock::now() < end; ++nRun) {
        CWriter writer(root.Path() + " 6000 " + std::to_string(nRun * 1000 + 1) + " 0 300");
        // Timed from its first start, not from the loading of the program.
        ASSERT_TRUE(writer.Ready());
        ::usleep(useconds_t(delayMs(random)) * 1000);
        writer.Kill();
        const std::map<long, long> mine = writer.Acks();
        acks.insert(mine.begin(), mine.end());
    }
    ExpectStored(root.Join("6000"), acks, 300);
}

}  // namespace
