// Preferences as a small JSON key-value store shared by the engine and the
// interface: "$XDG_CONFIG_HOME/Vessora/defaults.json" (default
// "~/.config/Vessora/defaults.json"), written atomically and re-read when the
// file changes. Tests replace the standard store with an in-memory one.
#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace vessora {

class UserDefaults {
public:
    // A store backed by the file; without a file it keeps values in memory.
    explicit UserDefaults(std::optional<std::filesystem::path> file);

    static std::shared_ptr<UserDefaults> standard();
    static void setStandard(std::shared_ptr<UserDefaults> defaults);
    static std::shared_ptr<UserDefaults> inMemory();
    static std::filesystem::path defaultFile();

    std::optional<nlohmann::json> value(const std::string& key) const;
    // Writes through to the file; a write error is thrown and the stored
    // value stays as it was.
    void set(const std::string& key, nlohmann::json value);
    void remove(const std::string& key);

private:
    void reloadIfChanged() const;
    void store(nlohmann::json next);

    std::optional<std::filesystem::path> file_;
    mutable std::mutex mutex_;
    mutable nlohmann::json values_ = nlohmann::json::object();
    mutable std::optional<std::filesystem::file_time_type> loadedTime_;
    mutable std::uintmax_t loadedSize_ = 0;
};

} // namespace vessora
