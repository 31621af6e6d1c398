#include "tests/Support/BrewStandIn.hpp"

#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Process/Command.hpp"

#include <fstream>
#include <stdexcept>

namespace vessora {

BrewStandIn::BrewStandIn(std::filesystem::path tools) : tools_(std::move(tools)) {
    std::filesystem::create_directories(root() / "bin");
    std::filesystem::copy_file(tools_ / "brew", brew());
    std::filesystem::permissions(brew(), std::filesystem::perms(0755));
    setState({{"formulae", nlohmann::json::object()}});
}

void BrewStandIn::setState(const nlohmann::json& state) const {
    PrivateFile::write(root() / "bin" / "brew-state.json", state.dump(2));
}

nlohmann::json BrewStandIn::state() const {
    return nlohmann::json::parse(PrivateFile::read(root() / "bin" / "brew-state.json"));
}

std::vector<nlohmann::json> BrewStandIn::calls() const {
    std::vector<nlohmann::json> result;
    std::ifstream log(root() / "bin" / "brew-calls.log");
    for (std::string line; std::getline(log, line);)
        result.push_back(nlohmann::json::parse(line));
    return result;
}

nlohmann::json BrewStandIn::formula(const std::string& stable,
                                    const std::vector<std::string>& installed,
                                    const std::vector<std::string>& aliases,
                                    const std::vector<std::string>& versioned) {
    return {{"tap", "homebrew/core"},
            {"stable", stable},
            {"installed", installed},
            {"aliases", aliases},
            {"versioned_formulae", versioned},
            {"deprecated", false},
            {"disabled", false}};
}

void BrewStandIn::buildDebianPrefixes() const {
    auto result =
        Command::run(tools_ / "build-brew-prefixes.py", {root().string()}, {.timeout = 300});
    if (result.status != 0)
        throw std::runtime_error("build-brew-prefixes.py failed:\n" + result.output);
}

std::filesystem::path BrewStandIn::upgrade(const std::string& formula, const std::string& version,
                                           bool keepOld) const {
    namespace fs = std::filesystem;
    const fs::path opt = root() / "opt" / formula;
    const fs::path old = fs::canonical(opt);
    const fs::path keg = root() / "Cellar" / formula / version;
    fs::copy(old, keg, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    // Relinked in one step: a reader sees the old link or the new one.
    const fs::path link = opt.string() + ".new";
    fs::create_directory_symlink(fs::path("..") / "Cellar" / formula / version, link);
    fs::rename(link, opt);
    nlohmann::json current = state();
    auto& entry = current["formulae"][formula];
    entry["stable"] = version;
    if (keepOld)
        entry["installed"].push_back(version);
    else
        entry["installed"] = nlohmann::json::array({version});
    setState(current);
    if (!keepOld)
        fs::remove_all(old);
    return keg;
}

} // namespace vessora
