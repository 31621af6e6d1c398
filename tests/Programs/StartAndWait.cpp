// A run of the application that a test kills where it knows the run is: it
// opens an engine on the data root, starts one environment, creates the
// ready file and waits for its kill. Being a fresh process, it holds no lock
// or thread of the test that launched it.
//
//   vessora-start-and-wait ROOT BREW ENVIRONMENT-ID READY-FILE ROUTER-HTTP ROUTER-HTTPS
//
// Exits 2 with the error on standard error when the start fails.
#include "VessoraCore/Engine/StackEngine.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"
#include "tests/Support/FakeHostService.hpp"

#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    using namespace vessora;
    if (argc != 7) {
        std::fputs("usage: vessora-start-and-wait ROOT BREW ENVIRONMENT-ID READY-FILE "
                   "ROUTER-HTTP ROUTER-HTTPS\n",
                   stderr);
        return 2;
    }
    // Never destroyed: the kill takes the engine with its servers running.
    std::unique_ptr<StackEngine> engine;
    try {
        UserDefaults::setStandard(UserDefaults::inMemory());
        StackEngine::Options options;
        options.root = argv[1];
        options.brew = argv[2];
        options.hostClient = std::make_shared<FakeHostService>();
        options.routerPorts = {std::stoll(argv[5]), std::stoll(argv[6])};
        options.trashHandler = [](const std::filesystem::path&) {};
        engine = std::make_unique<StackEngine>(options);
        engine->start(argv[3]);
        PrivateFile::write(argv[4], "");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 2;
    }
    for (;;)
        ::pause();
}
