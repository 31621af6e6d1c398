#include "VessoraCore/Process/ServerRecord.hpp"

#include "VessoraCore/Foundation/JsonFields.hpp"

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace vessora {
namespace fs = std::filesystem;

namespace ProcessInfo {

std::string bootID() {
    std::ifstream file("/proc/sys/kernel/random/boot_id");
    std::string text;
    std::getline(file, text);
    return text;
}

std::optional<Stat> stat(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(file, text))
        return std::nullopt;
    // The command name sits in parentheses and may hold spaces or ')'.
    const auto close = text.rfind(')');
    if (close == std::string::npos)
        return std::nullopt;
    std::istringstream rest(text.substr(close + 1));
    std::vector<std::string> fields;
    for (std::string field; rest >> field;)
        fields.push_back(field);
    // fields[0] is the state (third field), so field N is fields[N - 3].
    if (fields.size() < 20)
        return std::nullopt;
    try {
        Stat result;
        result.state = fields[0].empty() ? '?' : fields[0][0];
        result.group = static_cast<pid_t>(std::stol(fields[2]));
        result.startTime = std::stoull(fields[19]);
        return result;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace ProcessInfo

namespace {

bool isScript(const std::string& program) {
    std::ifstream file(program, std::ios::binary);
    char head[2] = {};
    return file.read(head, 2) && head[0] == '#' && head[1] == '!';
}

std::optional<std::string> executableOf(pid_t pid) {
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", error);
    if (error)
        return std::nullopt;
    return exe.string();
}

} // namespace

void ServerRecord::validate() const {
    if (service.empty())
        throw std::invalid_argument("The server record has no service name.");
    if (pid <= 1)
        throw std::invalid_argument("The server record has no usable process id.");
    if (startTime == 0)
        throw std::invalid_argument("The server record has no start time.");
    if (bootID.empty())
        throw std::invalid_argument("The server record has no boot id.");
    if (program.empty() || program.front() != '/')
        throw std::invalid_argument("The server record has no absolute program path.");
}

nlohmann::json ServerRecord::toJSON() const {
    return {{"service", service}, {"pid", pid},         {"startTime", startTime},
            {"bootID", bootID},   {"program", program}, {"script", script}};
}

ServerRecord ServerRecord::fromJSON(const nlohmann::json& value) {
    JsonFields::requireObject(value, "server record");
    ServerRecord record;
    record.service = JsonFields::requiredString(value, "service");
    const auto pid = JsonFields::requiredInt(value, "pid");
    const auto start = JsonFields::requiredInt(value, "startTime");
    if (pid <= 1 || pid > 0x7fffffff || start <= 0)
        throw std::invalid_argument("The server record holds an impossible process.");
    record.pid = static_cast<pid_t>(pid);
    record.startTime = static_cast<std::uint64_t>(start);
    record.bootID = JsonFields::requiredString(value, "bootID");
    record.program = JsonFields::requiredString(value, "program");
    record.validate();
    const auto script = JsonFields::optionalBool(value, "script");
    record.script = script ? *script : isScript(record.program);
    return record;
}

std::optional<ServerRecord> ServerRecord::of(pid_t pid, std::string service,
                                             const fs::path& program) {
    const auto info = ProcessInfo::stat(pid);
    if (!info)
        return std::nullopt;
    std::error_code error;
    fs::path resolved = fs::canonical(program, error);
    ServerRecord record;
    record.service = std::move(service);
    record.pid = pid;
    record.startTime = info->startTime;
    record.bootID = ProcessInfo::bootID();
    record.program = error ? program.string() : resolved.string();
    record.script = isScript(record.program);
    return record;
}

bool ServerRecord::isAlive() const {
    if (bootID.empty() || bootID != ProcessInfo::bootID())
        return false;
    const auto info = ProcessInfo::stat(pid);
    if (!info || info->startTime != startTime || info->group != pid)
        return false;
    if (info->state == 'Z' || info->state == 'X' || info->state == 'x')
        return false;
    if (script)
        return true;
    // Unreadable (another user's process) counts as not ours. A program file
    // replaced by rename (a package upgrade) still runs as the old file,
    // which the kernel names with a suffix.
    const auto exe = executableOf(pid);
    return exe && (*exe == program || *exe == program + " (deleted)");
}

} // namespace vessora
