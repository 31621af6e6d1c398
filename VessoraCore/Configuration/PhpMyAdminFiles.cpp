#include "VessoraCore/Configuration/PhpMyAdminFiles.hpp"

#include "VessoraCore/Configuration/Configuration.hpp"
#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Foundation/PrivateFile.hpp"
#include "VessoraCore/Foundation/RemovedOnExit.hpp"
#include "VessoraCore/Foundation/Uuid.hpp"
#include "VessoraCore/Foundation/VessoraError.hpp"
#include "VessoraCore/Storage/FileMove.hpp"

#include <optional>
#include <system_error>

namespace vessora::PhpMyAdminFiles {

namespace {

namespace fs = std::filesystem;

bool existsFollowing(const fs::path& path) {
    std::error_code error;
    return fs::exists(path, error);
}

// Something at the path itself, a dangling link included.
bool present(const fs::path& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

std::optional<std::string> contents(const fs::path& file) {
    try {
        return PrivateFile::read(file);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// The source folder itself is followed even when it is a link (a formula's
// prefix usually is); links inside it are copied as links.
void copyFolder(const fs::path& source, const fs::path& target) {
    fs::create_directory(target, source);
    for (const auto& entry : fs::directory_iterator(source))
        fs::copy(entry.path(), target / entry.path().filename(),
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks);
}

} // namespace

void prepare(const StackPaths& paths, const fs::path& source) {
    if (!existsFollowing(source / "index.php") || !existsFollowing(source / "vendor/autoload.php"))
        throw VessoraError(L10n::text(
            "The Homebrew phpMyAdmin installation is incomplete. Reinstall phpmyadmin."));

    const fs::path copy = paths.phpMyAdmin();
    const fs::path marker = paths.config() / "phpmyadmin-source";
    const std::string loader = Configuration::phpMyAdminLoader(paths);
    // A moved data root changes the loader's path, so the loader is compared
    // too: a stale one would break phpMyAdmin on every start.
    if (contents(marker) == source.string() && existsFollowing(copy / "index.php") &&
        contents(copy / "config.inc.php") == loader)
        return;

    const fs::path tools = paths.tools();
    PrivateFile::createDirectories(tools);
    const fs::path staging = tools / (".phpmyadmin-" + Uuid::random());
    const fs::path backup = tools / (".previous-" + Uuid::random());
    RemovedOnExit stagingCleanup(staging);

    copyFolder(source, staging);
    const fs::path stagedConfig = staging / "config.inc.php";
    if (existsFollowing(stagedConfig) || present(stagedConfig))
        fs::remove(stagedConfig);
    PrivateFile::write(stagedConfig, loader);

    const bool hadCopy = present(copy);
    if (hadCopy)
        FileMove::move(copy, backup);
    try {
        FileMove::move(staging, copy);
    } catch (...) {
        if (hadCopy) {
            try {
                FileMove::move(backup, copy);
            } catch (const std::exception&) {
                // The old copy stays at the backup path.
            }
        }
        throw;
    }
    if (hadCopy) {
        std::error_code error;
        fs::remove_all(backup, error);
    }
    PrivateFile::writeKeepingMode(marker, source.string());
}

} // namespace vessora::PhpMyAdminFiles
