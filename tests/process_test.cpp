// Several processes on one store file: a first start raced by many writers on a
// new account, and a writer killed at random moments of its batch commits. After
// each, everything a writer acknowledged is stored, every batch is whole, the file
// passes integrity_check, and no process took the healthy file for damaged (no
// backup appears). The writers' disk is made slow (every sync takes longer), which
// widens the windows that another process, or a kill, can fall into.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "DbState.h"
#include "TestSupport.h"

#ifndef _WIN32
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace testing_support;

namespace {

#ifndef _WIN32

// A writer process (see store_writer.cpp) with its input and output on pipes.
class CWriter {
public:
    explicit CWriter(const std::vector<std::string>& args)
    {
        int inPipe[2] = {-1, -1}, outPipe[2] = {-1, -1};
        if (::pipe(inPipe) != 0 || ::pipe(outPipe) != 0) {
            return;
        }
        // Other writers must not inherit these ends: a copy of the input's write
        // end would keep this writer waiting until they all ended.
        for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1]}) {
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(inPipe[0], 0);
            ::dup2(outPipe[1], 1);
            for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1]}) {
                ::close(fd);
            }
            std::vector<char*> argv{const_cast<char*>(CALSTORE_WRITER_BINARY)};
            for (const std::string& str : args) {
                argv.push_back(const_cast<char*>(str.c_str()));
            }
            argv.push_back(nullptr);
            ::execv(CALSTORE_WRITER_BINARY, argv.data());
            ::_exit(127);
        }
        ::close(inPipe[0]);
        ::close(outPipe[1]);
        m_fdIn = inPipe[1];
        m_fdOut = outPipe[0];
    }
    ~CWriter()
    {
        Go();
        if (m_pid > 0 && !m_bWaited) {
            ::kill(m_pid, SIGKILL);
            Wait();
        }
        if (m_fdOut >= 0) {
            ::close(m_fdOut);
        }
    }
    CWriter(const CWriter&) = delete;
    CWriter& operator=(const CWriter&) = delete;

    bool Started() const { return m_pid > 0; }
    // Closes its input: a writer started with --wait begins now.
    void Go()
    {
        if (m_fdIn >= 0) {
            ::close(m_fdIn);
            m_fdIn = -1;
        }
    }
    void Kill() { ::kill(m_pid, SIGKILL); }
    // Waits for the end; returns its exit status (-1 when killed).
    int Wait()
    {
        int nStatus = 0;
        while (::waitpid(m_pid, &nStatus, 0) < 0 && errno == EINTR) {
        }
        m_bWaited = true;
        return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    }
    // Reads its output until it holds strText, or to its end.
    bool ReadUntil(const std::string& strText)
    {
        char buffer[4096];
        ssize_t cb = 0;
        while (m_strOut.find(strText) == std::string::npos && (cb = ::read(m_fdOut, buffer, sizeof(buffer))) > 0) {
            m_strOut.append(buffer, size_t(cb));
        }
        return m_strOut.find(strText) != std::string::npos;
    }
    // The acknowledged calendars with their event counts, from whole lines only.
    std::map<long, long> Acks()
    {
        ReadUntil(std::string(1, '\0'));  // never printed: reads to the end
        std::map<long, long> acks;
        std::istringstream lines(m_strOut.substr(0, m_strOut.rfind('\n') + 1));
        std::string strWord;
        long lCal = 0, lEvents = 0;
        while (lines >> strWord) {
            if (strWord == "ack" && lines >> lCal >> lEvents) {
                acks[lCal] = lEvents;
            }
        }
        return acks;
    }

private:
    pid_t m_pid = -1;
    int m_fdIn = -1;
    int m_fdOut = -1;
    bool m_bWaited = false;
    std::string m_strOut;
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
    std::map<long, long> stored;
    for (const std::string& strKey : state.keys) {
        if (strKey[0] == 'E') {
            ++stored[std::stol(strKey.substr(1))];
        } else {
            stored.emplace(std::stol(strKey.substr(1)), 0);
        }
    }
    for (const auto& [lCal, lEvents] : acks) {
        EXPECT_TRUE(state.keys.count("C" + std::to_string(lCal)) != 0) << "calendar " << lCal << " acknowledged, not stored";
        EXPECT_EQ(lEvents, stored[lCal]) << "events of acknowledged calendar " << lCal;
    }
    for (const auto& [lCal, lCount] : stored) {
        EXPECT_EQ(nEvents, lCount) << "calendar " << lCal << " stored in part";
    }
}

TEST(ProcessTest, ManyFirstStartsAtOnceOnANewAccount)
{
    CTempDir root;
    const int nWriters = 8, nRounds = 8;
    const long nEvents = 3;
    for (int nRound = 0; nRound < nRounds; ++nRound) {
        const std::string strAccount = std::to_string(5000 + nRound);
        std::vector<std::unique_ptr<CWriter>> writers;
        for (int n = 1; n <= nWriters; ++n) {
            writers.emplace_back(new CWriter(
                {root.Path(), strAccount, std::to_string(n), "1", std::to_string(nEvents), "--wait", "--slow-disk"}));
            ASSERT_TRUE(writers.back()->Started());
        }
        // All of them loaded and waiting, then all released at once.
        for (auto& pWriter : writers) {
            ASSERT_TRUE(pWriter->ReadUntil("ready\n"));
        }
        for (auto& pWriter : writers) {
            pWriter->Go();
        }
        std::map<long, long> acks;
        int nFailed = 0;
        for (auto& pWriter : writers) {
            const std::map<long, long> mine = pWriter->Acks();
            acks.insert(mine.begin(), mine.end());
            nFailed += pWriter->Wait() != 0 ? 1 : 0;
        }
        SCOPED_TRACE("account " + strAccount);
        EXPECT_EQ(0, nFailed) << "writers that could not store their calendar";
        ExpectStored(root.Join(strAccount), acks, nEvents);
    }
}

TEST(ProcessTest, AWriterKilledDuringItsCommitsLosesNothingAcknowledged)
{
    CTempDir root;
    const std::string strAccount = "6000";
    const long nEvents = 300;
    std::mt19937 random(20240611u);
    std::uniform_int_distribution<int> delayMs(2, 200);
    std::map<long, long> acks;
    int nKills = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    for (long nRun = 0; std::chrono::steady_clock::now() < end; ++nRun) {
        CWriter writer({root.Path(), strAccount, std::to_string(nRun * 1000 + 1), "0", std::to_string(nEvents),
                        "--wait", "--slow-disk"});
        ASSERT_TRUE(writer.Started());
        // Timed from its first start, not from the loading of the program.
        ASSERT_TRUE(writer.ReadUntil("ready\n"));
        writer.Go();
        ::usleep(useconds_t(delayMs(random)) * 1000);
        writer.Kill();
        writer.Wait();
        const std::map<long, long> mine = writer.Acks();
        acks.insert(mine.begin(), mine.end());
        ++nKills;
    }
    std::printf("processes: %d writers killed, %zu batches acknowledged\n", nKills, acks.size());
    ExpectStored(root.Join(strAccount), acks, nEvents);
}

#else

TEST(ProcessTest, NeedsPosixProcesses) { GTEST_SKIP() << "the process tests start and kill POSIX processes"; }

#endif

}  // namespace
