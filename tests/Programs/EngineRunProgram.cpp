// The engine of a run that a test kills with SIGKILL, in a process of its
// own: started fresh, as the application is, rather than forked from a test
// process whose other threads may hold locks the child would wait on.
//
//   EngineRunProgram [--stop-pause MS] [--ports P,P...] ROOT BREW ROUTER_HTTP
//                    ROUTER_HTTPS STEP...
//
// --stop-pause sets the pause of a stop's first wait for each server (100
// checks), so a stop can be held that long before it escalates; --ports
// gives new environments only these ports (onlyPorts).
//
// The steps run in order:
//   local-hosts               configureLocalHosts(true)
//   hold-helper               every later helper request waits for the kill
//   start ID                  start(ID)
//   stop ID                   stop(ID)
//   mark FILE                 writes FILE
//   await FILE                waits until FILE exists
//   migrate REQUEST PHASES    migrate() with the request read from the JSON
//                             file REQUEST; each phase entered is appended
//                             to PHASES as a line
// Then the program waits for its kill, as a busy application would. A step
// that throws ends it with status 3, an import that reports failure with
// status 4, the text on standard error either way. It dies with the test
// that started it.
#include "VessoraCore/Engine/StackEngine.hpp"
#include "VessoraCore/Foundation/JsonFields.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "tests/Support/FakeHostService.hpp"
#include "tests/Support/FreePorts.hpp"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <sys/prctl.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace vessora;
using namespace std::chrono_literals;

MigrationRequest requestFrom(const fs::path& file) {
    const nlohmann::json json = JsonFields::parse(PrivateFile::read(file));
    MigrationRequest request;
    request.name = json.at("name").get<std::string>();
    request.projectFolder = json.at("projectFolder").get<std::string>();
    request.publicDirectory = json.at("publicDirectory").get<std::string>();
    request.mode = ProjectImportMode::existing;
    request.databaseName = json.at("databaseName").get<std::string>();
    request.sqlFile = json.at("sqlFile").get<std::string>();
    request.php = json.at("php").get<std::string>();
    request.mariaDB = json.at("mariaDB").get<std::string>();
    request.webserver = json.at("webserver").get<std::string>();
    return request;
}

int run(int count, char** arguments) {
    StackEngine::Options options;
    int first = 1;
    for (; first + 1 < count && std::string(arguments[first]).rfind("--", 0) == 0; first += 2) {
        const std::string option = arguments[first];
        const std::string value = arguments[first + 1];
        if (option == "--stop-pause") {
            options.stopPauses.first = std::chrono::milliseconds(std::stoll(value));
        } else if (option == "--ports") {
            std::vector<std::int64_t> ports;
            std::istringstream list(value);
            for (std::string port; std::getline(list, port, ',');)
                ports.push_back(std::stoll(port));
            options.portAvailable = onlyPorts(ports);
        } else {
            throw std::invalid_argument("unknown option " + option);
        }
    }
    if (count < first + 4)
        throw std::invalid_argument("usage: [--stop-pause MS] [--ports P,P...] ROOT BREW "
                                    "ROUTER_HTTP ROUTER_HTTPS STEP...");
    const auto helper = std::make_shared<FakeHostService>();
    options.root = arguments[first];
    options.brew = arguments[first + 1];
    options.hostClient = helper;
    options.routerPorts = {std::stoll(arguments[first + 2]), std::stoll(arguments[first + 3])};
    options.trashHandler = [](const fs::path& item) { fs::remove_all(item); };
    StackEngine engine(options);

    for (int index = first + 4; index < count; ++index) {
        const std::string step = arguments[index];
        const auto operand = [&]() -> std::string {
            if (++index >= count)
                throw std::invalid_argument(step + " needs an operand");
            return arguments[index];
        };
        if (step == "local-hosts") {
            engine.configureLocalHosts(true);
        } else if (step == "hold-helper") {
            // Until the kill; the bound only keeps a lost program from
            // staying for good.
            helper->hold(std::chrono::minutes(10));
        } else if (step == "start") {
            engine.start(operand());
        } else if (step == "stop") {
            engine.stop(operand());
        } else if (step == "mark") {
            PrivateFile::write(operand(), "");
        } else if (step == "await") {
            const fs::path file = operand();
            const auto deadline = std::chrono::steady_clock::now() + 10min;
            while (!fs::exists(file)) {
                if (std::chrono::steady_clock::now() > deadline)
                    throw std::runtime_error("nothing made " + file.string());
                std::this_thread::sleep_for(5ms);
            }
        } else if (step == "migrate") {
            const MigrationRequest request = requestFrom(operand());
            const fs::path phases = operand();
            const MigrationResult result = engine.migrate(request, [&](MigrationPhase phase) {
                std::ofstream(phases, std::ios::app) << rawValue(phase) << "\n";
            });
            if (!result.report.succeeded) {
                std::cerr << "The import failed: " << result.report.message << "\n";
                return 4;
            }
        } else {
            throw std::invalid_argument("unknown step " + step);
        }
    }
    for (;;)
        ::pause();
}

} // namespace

int main(int count, char** arguments) {
    // A test that ends without its kill takes this run with it.
    const pid_t parent = ::getppid();
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent)
        return 2;
    UserDefaults::setStandard(UserDefaults::inMemory());
    try {
        return run(count, arguments);
    } catch (const std::exception& error) {
        std::cerr << error.what() << "\n";
        return 3;
    }
}
