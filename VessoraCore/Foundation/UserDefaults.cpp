#include "VessoraCore/Foundation/UserDefaults.hpp"

#include "VessoraCore/Foundation/PrivateFile.hpp"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace vessora {
namespace {

std::mutex standardMutex;
std::shared_ptr<UserDefaults> standardStore;

std::filesystem::path homeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home == '/')
        return home;
    if (const passwd* entry = getpwuid(geteuid()); entry && entry->pw_dir)
        return entry->pw_dir;
    return "/";
}

} // namespace

UserDefaults::UserDefaults(std::optional<std::filesystem::path> file) : file_(std::move(file)) {}

std::filesystem::path UserDefaults::defaultFile() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::filesystem::path base =
        (config && *config == '/') ? std::filesystem::path(config) : homeFolder() / ".config";
    return base / "Vessora" / "defaults.json";
}

std::shared_ptr<UserDefaults> UserDefaults::standard() {
    std::lock_guard lock(standardMutex);
    if (!standardStore)
        standardStore = std::make_shared<UserDefaults>(defaultFile());
    return standardStore;
}

void UserDefaults::setStandard(std::shared_ptr<UserDefaults> defaults) {
    std::lock_guard lock(standardMutex);
    standardStore = std::move(defaults);
}

std::shared_ptr<UserDefaults> UserDefaults::inMemory() {
    return std::make_shared<UserDefaults>(std::nullopt);
}

void UserDefaults::reloadIfChanged() const {
    if (!file_)
        return;
    std::error_code error;
    auto time = std::filesystem::last_write_time(*file_, error);
    if (error) {
        // No file (yet): nothing stored.
        values_ = nlohmann::json::object();
        loadedTime_.reset();
        return;
    }
    auto size = std::filesystem::file_size(*file_, error);
    if (loadedTime_ && *loadedTime_ == time && loadedSize_ == size)
        return;
    loadedTime_ = time;
    loadedSize_ = size;
    try {
        auto parsed = nlohmann::json::parse(PrivateFile::read(*file_));
        values_ = parsed.is_object() ? parsed : nlohmann::json::object();
    } catch (const std::exception&) {
        // An unreadable preferences file counts as empty rather than
        // stopping the program; the next write replaces it whole.
        values_ = nlohmann::json::object();
    }
}

std::optional<nlohmann::json> UserDefaults::value(const std::string& key) const {
    std::lock_guard lock(mutex_);
    reloadIfChanged();
    auto found = values_.find(key);
    if (found == values_.end())
        return std::nullopt;
    return *found;
}

void UserDefaults::store(nlohmann::json next) {
    if (file_) {
        PrivateFile::createDirectories(file_->parent_path());
        PrivateFile::write(*file_, next.dump(2) + "\n");
        std::error_code error;
        loadedTime_ = std::filesystem::last_write_time(*file_, error);
        loadedSize_ = std::filesystem::file_size(*file_, error);
    }
    values_ = std::move(next);
}

void UserDefaults::set(const std::string& key, nlohmann::json value) {
    std::lock_guard lock(mutex_);
    reloadIfChanged();
    // The file already says so: no write, and no disk flush at every start.
    if (const auto stored = values_.find(key); stored != values_.end() && *stored == value)
        return;
    auto next = values_;
    next[key] = std::move(value);
    store(std::move(next));
}

void UserDefaults::remove(const std::string& key) {
    std::lock_guard lock(mutex_);
    reloadIfChanged();
    if (!values_.contains(key))
        return;
    auto next = values_;
    next.erase(key);
    store(std::move(next));
}

} // namespace vessora
