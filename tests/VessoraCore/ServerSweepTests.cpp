// Recorded servers of a killed run: only the very process a record names is
// ever signalled (a reused pid, a changed program or another boot is left
// alone, a program upgraded under it is not), it is ended through its group
// with every worker, a zombie counts as gone, and the records follow the
// processes they name.
#include "VessoraCore/Foundation/JsonFields.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Process/ManagedProcess.hpp"
#include "VessoraCore/Process/ServerRecord.hpp"
#include "VessoraCore/Process/ServerSweep.hpp"
#include "tests/Support/Becomes.hpp"
#include "tests/Support/ServerChecks.hpp"
#include "tests/Support/TemporaryFolder.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <memory>
#include <thread>
#include <unistd.h>

using namespace vessora;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

const fs::path sleeper = "/bin/sleep";

class ServerSweepTests : public ::testing::Test {
protected:
    void TearDown() override {
        // Whatever a failed check left running.
        for (auto& process : processes)
            if (process->isRunning()) {
                process->signal(SIGKILL);
                process->waitForExit(5s);
            }
    }

    std::shared_ptr<ManagedProcess> launch(const fs::path& program = sleeper,
                                           std::vector<std::string> arguments = {"60"}) {
        auto process = std::make_shared<ManagedProcess>(
            "MariaDB", program, arguments, work.path() / "server.log",
            std::map<std::string, std::string>{}, records());
        processes.push_back(process);
        return process;
    }

    fs::path records() const { return work.path() / "servers"; }
    fs::path recordFile(const ManagedProcess& process) const {
        return records() / (std::to_string(process.pid()) + ".json");
    }
    ServerRecord read(const ManagedProcess& process) const {
        return ServerRecord::fromJSON(JsonFields::parse(PrivateFile::read(recordFile(process))));
    }
    void rewrite(const ManagedProcess& process, const ServerRecord& record) const {
        PrivateFile::write(recordFile(process), record.toJSON().dump());
    }
    // The sweep runs in another process in real use; here the process is
    // our child, so its end is seen once it is reaped.
    static bool endsSoon(ManagedProcess& process) { return process.waitForExit(3s); }
    static bool becomes(const std::function<bool()>& condition) {
        return vessora::becomes(condition, 5s);
    }
    static std::string executableOf(pid_t pid) {
        return fs::read_symlink("/proc/" + std::to_string(pid) + "/exe").string();
    }

    TemporaryFolder work{"vessora-sweep"};
    std::vector<std::shared_ptr<ManagedProcess>> processes;
};

TEST_F(ServerSweepTests, RecordNamesTheLaunchedProcessAndStaysWhileItRuns) {
    auto process = launch();
    const ServerRecord record = read(*process);
    EXPECT_EQ(record.pid, process->pid());
    EXPECT_EQ(record.service, "MariaDB");
    EXPECT_EQ(record.program, fs::canonical(sleeper).string());
    EXPECT_EQ(record.bootID, ProcessInfo::bootID());
    EXPECT_TRUE(record.isAlive());
    EXPECT_EQ(fs::status(recordFile(*process)).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);

    // Dropped while running (a killed run): the record must stay for the next one.
    const fs::path file = recordFile(*process);
    processes.clear();
    EXPECT_TRUE(fs::exists(file));
    ::kill(-record.pid, SIGKILL);
}

TEST_F(ServerSweepTests, RecordGoesWithAProcessThatHasEnded) {
    auto process = launch();
    const fs::path file = recordFile(*process);
    process->signal(SIGTERM);
    ASSERT_TRUE(endsSoon(*process));
    EXPECT_FALSE(read(*process).isAlive());
    processes.clear();
    process.reset();
    EXPECT_FALSE(fs::exists(file));
}

TEST_F(ServerSweepTests, SweepEndsARecordedServerAndRemovesItsRecord) {
    auto process = launch();
    const fs::path file = recordFile(*process);
    // A sweep's SIGTERM ends the group; our own reaping shows it here.
    EXPECT_EQ(ServerSweep::stopRecorded({records()}, {.grace = 3000ms, .kill = 1000ms}), 1);
    EXPECT_TRUE(endsSoon(*process));
    EXPECT_EQ(process->terminationStatus(), SIGTERM);
    EXPECT_FALSE(fs::exists(file));
}

TEST_F(ServerSweepTests, ReusedPidOtherProgramOrOtherBootIsNeverSignalled) {
    auto process = launch();
    const ServerRecord real = read(*process);

    ServerRecord reused = real;
    reused.startTime += 1; // the same pid, started at another moment
    ServerRecord otherProgram = real;
    otherProgram.program = "/usr/sbin/mariadbd";
    ServerRecord otherBoot = real;
    otherBoot.bootID = "00000000-0000-4000-8000-000000000000";

    for (const ServerRecord& record : {reused, otherProgram, otherBoot}) {
        rewrite(*process, record);
        EXPECT_FALSE(record.isAlive());
        EXPECT_EQ(ServerSweep::stopRecorded({records()}, {.grace = 200ms, .kill = 200ms}), 0);
        EXPECT_FALSE(process->waitForExit(100ms)) << "signalled for " << record.toJSON().dump();
        EXPECT_FALSE(fs::exists(recordFile(*process))) << "a stale record must go";
    }
}

TEST_F(ServerSweepTests, ServerWhoseProgramWasReplacedByRenameIsStillEnded) {
    // An upgrade writes the new file beside the old one and renames it over.
    const fs::path program = work.path() / "mariadbd";
    fs::copy_file(sleeper, program);
    auto process = launch(program);
    const ServerRecord record = read(*process);
    ASSERT_EQ(record.program, program.string());
    fs::copy_file(sleeper, work.path() / ".mariadbd.new");
    fs::rename(work.path() / ".mariadbd.new", program);
    ASSERT_EQ(executableOf(process->pid()), program.string() + " (deleted)");
    EXPECT_TRUE(record.isAlive());

    // Only the recorded path itself counts with the suffix.
    ServerRecord other = record;
    other.program = (work.path() / "mariadb").string();
    rewrite(*process, other);
    EXPECT_FALSE(other.isAlive());
    EXPECT_EQ(ServerSweep::stopRecorded({records()}, {.grace = 200ms, .kill = 200ms}), 0);
    EXPECT_FALSE(process->waitForExit(100ms));

    rewrite(*process, record);
    EXPECT_EQ(ServerSweep::stopRecorded({records()}, {.grace = 3000ms, .kill = 1000ms}), 1);
    ASSERT_TRUE(endsSoon(*process));
    EXPECT_EQ(process->terminationStatus(), SIGTERM);
    EXPECT_FALSE(fs::exists(recordFile(*process)));
}

TEST_F(ServerSweepTests, ServerLaunchedThroughAScriptThatIsGoneIsStillEnded) {
    // A wrapper in a keg that an upgrade has since removed.
    const fs::path wrapper = work.path() / "php-fpm";
    PrivateFile::writeWithMode(wrapper, "#!/bin/sh\nexec " + sleeper.string() + " 60\n", 0700);
    auto process = launch(wrapper);
    ASSERT_TRUE(
        becomes([&] { return executableOf(process->pid()) == fs::canonical(sleeper).string(); }));
    const ServerRecord record = read(*process);
    EXPECT_TRUE(record.script);
    fs::remove(wrapper);
    EXPECT_TRUE(record.isAlive());
    // An older record, without the flag, reads the file it names.
    nlohmann::json older = record.toJSON();
    older.erase("script");
    EXPECT_FALSE(ServerRecord::fromJSON(older).script);

    EXPECT_EQ(ServerSweep::stopRecorded({records()}, {.grace = 3000ms, .kill = 1000ms}), 1);
    ASSERT_TRUE(endsSoon(*process));
    EXPECT_EQ(process->terminationStatus(), SIGTERM);
}

// Servers the previous version left running, then a kill: their records
// lack the flag, and the file each names tells whether it was a script.
TEST_F(ServerSweepTests, AnOlderRecordWithoutTheScriptFlagIsReadFromItsProgramFile) {
    const fs::path wrapper = work.path() / "php-fpm";
    PrivateFile::writeWithMode(wrapper, "#!/bin/sh\nexec " + sleeper.string() + " 60\n", 0700);
    for (const fs::path& program : {wrapper, sleeper}) {
        auto process = launch(program);
        ASSERT_TRUE(becomes(
            [&] { return executableOf(process->pid()) == fs::canonical(sleeper).string(); }));
        nlohmann::json older = read(*process).toJSON();
        older.erase("script");
        PrivateFile::write(recordFile(*process), older.dump());
        EXPECT_EQ(ServerRecord::fromJSON(older).script, program == wrapper) << program;

        EXPECT_EQ(ServerSweep::stopRecorded({records()}, {.grace = 3000ms, .kill = 1000ms}), 1)
            << program;
        ASSERT_TRUE(endsSoon(*process)) << program;
        EXPECT_EQ(process->terminationStatus(), SIGTERM) << program;
        EXPECT_FALSE(fs::exists(recordFile(*process))) << program;
    }
}

TEST_F(ServerSweepTests, SweepEndsTheWorkersTheServerStarted) {
    const fs::path worker = work.path() / "worker";
    auto process = launch("/bin/sh", {"-c", "sleep 60 & echo $! > " + worker.string() + "; wait"});
    ASSERT_TRUE(becomes([&] { return fs::exists(worker) && fs::file_size(worker) > 0; }));
    const pid_t workerPID = std::stoi(PrivateFile::read(worker));
    const auto workerInfo = ProcessInfo::stat(workerPID);
    ASSERT_TRUE(workerInfo);
    ASSERT_EQ(workerInfo->group, process->pid());

    EXPECT_EQ(ServerSweep::stopRecorded({records()}, {.grace = 3000ms, .kill = 1000ms}), 1);
    ASSERT_TRUE(endsSoon(*process));
    EXPECT_TRUE(becomes([&] { return !processGroupAlive(process->pid()); }))
        << "worker " << workerPID << " outlived the sweep";
    if (processGroupAlive(process->pid()))
        ::kill(-process->pid(), SIGKILL);
}

TEST_F(ServerSweepTests, ZombieCountsAsGoneAndIsNeverWaitedFor) {
    // A program and a wrapper script that replaces itself with a server (for
    // a script the program check is left out, so the state alone decides).
    const fs::path wrapper = work.path() / "php-fpm";
    PrivateFile::writeWithMode(wrapper, "#!/bin/sh\nexec sleep 60\n", 0700);
    for (const fs::path& program : {sleeper, wrapper}) {
        auto process = launch(program);
        const fs::path file = recordFile(*process);
        // Ended, but not reaped: the record still names a pid that exists.
        ASSERT_EQ(::kill(process->pid(), SIGKILL), 0);
        ASSERT_TRUE(becomes([&] {
            const auto info = ProcessInfo::stat(process->pid());
            return info && info->state == 'Z';
        }));
        EXPECT_FALSE(read(*process).isAlive()) << program;

        EXPECT_EQ(ServerSweep::stopRecorded({records()}, {.grace = 10000ms, .kill = 2000ms}), 0)
            << program;
        EXPECT_FALSE(fs::exists(file));
        // Nobody reaped it but its parent, which is still to do so.
        const auto after = ProcessInfo::stat(process->pid());
        ASSERT_TRUE(after);
        EXPECT_EQ(after->state, 'Z');
        ASSERT_TRUE(endsSoon(*process));
        EXPECT_EQ(process->terminationStatus(), SIGKILL);
    }
}

TEST_F(ServerSweepTests, ProcessOutsideItsOwnGroupIsNotTakenForTheServer) {
    auto process = launch();
    ServerRecord record = read(*process);
    // Our own pid in a record: alive, same boot, but not the head of a group
    // of its own that we launched, and not the recorded program.
    record.pid = ::getpid();
    record.startTime = ProcessInfo::stat(::getpid())->startTime;
    EXPECT_FALSE(record.isAlive());
}

TEST_F(ServerSweepTests, BrokenOrImpossibleRecordsAreDroppedWithoutASignal) {
    fs::create_directories(records());
    PrivateFile::write(records() / "1.json", R"({"service":"x","pid":1,"startTime":5,)"
                                             R"("bootID":"b","program":"/sbin/init"})");
    PrivateFile::write(records() / "2.json", "{\"service\":");
    PrivateFile::write(records() / "3.json", R"({"service":"x","pid":-7,"startTime":5,)"
                                             R"("bootID":"b","program":"/bin/sleep"})");
    EXPECT_EQ(ServerSweep::stopRecorded({records(), work.path() / "missing"}), 0);
    EXPECT_TRUE(fs::is_empty(records()));
}

TEST_F(ServerSweepTests, ServerIgnoringSigtermGetsSigkillAfterTheGrace) {
    auto process = std::make_shared<ManagedProcess>(
        "MariaDB", "/bin/sh",
        std::vector<std::string>{"-c", "trap '' TERM; while :; do sleep 0.1; done"},
        work.path() / "server.log", std::map<std::string, std::string>{}, records());
    processes.push_back(process);
    std::this_thread::sleep_for(200ms); // the trap is set
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(ServerSweep::stopRecorded({records()}, {.grace = 500ms, .kill = 2000ms}), 1);
    EXPECT_GE(std::chrono::steady_clock::now() - started, 500ms);
    ASSERT_TRUE(endsSoon(*process));
    EXPECT_EQ(process->terminationStatus(), SIGKILL);
}

} // namespace
