#include "VessoraCore/Foundation/L10n.hpp"

#include "VessoraCore/Foundation/StringsTable.hpp"
#include "VessoraCore/Foundation/UserDefaults.hpp"

#include <cstdlib>
#include <map>
#include <mutex>
#include <system_error>
#include <unistd.h>

namespace vessora::L10n {
namespace {

using Table = std::map<std::string, std::string>;

std::filesystem::path executableFolder() {
    std::error_code error;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : exe.parent_path();
}

// Built once, then only read.
const std::map<AppLanguage, Table>& tables() {
    static const std::map<AppLanguage, Table> loaded = [] {
        std::map<AppLanguage, Table> result;
        auto bundle = resourceBundle();
        for (AppLanguage language : AppLanguages::allCases) {
            auto folder = bundle / (AppLanguages::id(language) + ".lproj");
            std::error_code error;
            if (!std::filesystem::is_directory(folder, error))
                continue;
            result.emplace(language, StringsTable::load(folder / "Localizable.strings"));
        }
        return result;
    }();
    return loaded;
}

} // namespace

std::filesystem::path resourceBundle() {
    if (const char* overridden = std::getenv("VESSORA_RESOURCES"); overridden && *overridden) {
        return overridden;
    }
    return executableFolder() / ".." / "share" / "vessora" / "Vessora_VessoraCore.bundle";
}

AppLanguage language() {
    auto stored = UserDefaults::standard()->value(std::string(AppLanguages::preferenceKey));
    if (!stored || !stored->is_string())
        return AppLanguage::english;
    return AppLanguages::fromRawValue(stored->get<std::string>()).value_or(AppLanguage::english);
}

std::string format(std::string_view templateText, const std::vector<std::string>& arguments) {
    std::string out;
    out.reserve(templateText.size());
    std::size_t next = 0;
    for (std::size_t i = 0; i < templateText.size(); ++i) {
        char c = templateText[i];
        if (c != '%' || i + 1 >= templateText.size()) {
            out += c;
            continue;
        }
        char d = templateText[i + 1];
        if (d == '@') {
            if (next < arguments.size())
                out += arguments[next];
            ++next;
            ++i;
        } else if (d == '%') {
            out += '%';
            ++i;
        } else if (d >= '1' && d <= '9') {
            // Positional form "%2$@", used where a translation reorders.
            std::size_t j = i + 1;
            std::size_t index = 0;
            while (j < templateText.size() && templateText[j] >= '0' && templateText[j] <= '9') {
                index = index * 10 + std::size_t(templateText[j] - '0');
                ++j;
            }
            if (j + 1 < templateText.size() && templateText[j] == '$' &&
                templateText[j + 1] == '@') {
                if (index >= 1 && index <= arguments.size())
                    out += arguments[index - 1];
                i = j + 1;
            } else {
                out += c;
            }
        } else {
            out += c;
        }
    }
    return out;
}

void preload() {
    (void)tables();
}

std::string text(std::string_view key, const std::vector<std::string>& arguments,
                 std::optional<AppLanguage> chosen) {
    AppLanguage lang = chosen ? *chosen : language();
    const auto& all = tables();
    const Table* table = nullptr;
    if (auto found = all.find(lang); found != all.end())
        table = &found->second;
    else if (auto english = all.find(AppLanguage::english); english != all.end())
        table = &english->second;

    std::string templateText(key);
    if (table) {
        if (auto entry = table->find(templateText); entry != table->end())
            templateText = entry->second;
    }
    // Without arguments the text is not formatted, so a "%" stays as written.
    if (arguments.empty())
        return templateText;
    return format(templateText, arguments);
}

} // namespace vessora::L10n
