#include "VessoraCore/Process/ServerSweep.hpp"

#include "VessoraCore/Foundation/JsonFields.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Process/ServerRecord.hpp"

#include <algorithm>
#include <csignal>
#include <thread>
#include <utility>

namespace vessora::ServerSweep {
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

struct Found {
    fs::path file;
    ServerRecord record;
};

std::vector<Found> aliveRecords(const std::vector<fs::path>& folders) {
    std::vector<Found> alive;
    for (const fs::path& folder : folders) {
        std::error_code error;
        for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
             entry.increment(error)) {
            const fs::path file = entry->path();
            std::optional<ServerRecord> record;
            try {
                // A write cut off by the kill leaves only its temporary file.
                if (file.extension() == ".json")
                    record = ServerRecord::fromJSON(JsonFields::parse(PrivateFile::read(file)));
            } catch (const std::exception&) {
                // A half-written or foreign file names no process we may signal.
            }
            if (record && record->isAlive())
                alive.push_back({file, std::move(*record)});
            else
                fs::remove(file, error), error.clear();
        }
    }
    return alive;
}

// Signals the group only while its head is still the recorded process.
void signalAll(const std::vector<Found>& found, int signalNumber) {
    for (const Found& item : found)
        if (item.record.isAlive())
            ::kill(-item.record.pid, signalNumber);
}

bool anyAlive(const std::vector<Found>& found) {
    return std::any_of(found.begin(), found.end(),
                       [](const Found& item) { return item.record.isAlive(); });
}

bool waitUntilGone(const std::vector<Found>& found, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (anyAlive(found)) {
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

} // namespace

int stopRecorded(const std::vector<fs::path>& folders, Limits limits) {
    const std::vector<Found> found = aliveRecords(folders);
    if (found.empty())
        return 0;
    signalAll(found, SIGTERM);
    if (!waitUntilGone(found, limits.grace)) {
        signalAll(found, SIGKILL);
        waitUntilGone(found, limits.kill);
    }
    for (const Found& item : found) {
        std::error_code ignored;
        if (!item.record.isAlive())
            fs::remove(item.file, ignored);
    }
    return static_cast<int>(found.size());
}

} // namespace vessora::ServerSweep
