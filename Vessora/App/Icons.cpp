#include "Vessora/App/Icons.hpp"

#include "Vessora/App/TintedIconEngine.hpp"
#include "VessoraCore/Foundation/L10n.hpp"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QString>

#include <dirent.h>

#include <filesystem>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <tuple>
#include <unordered_set>
#include <utility>
#include <vector>

namespace vessora::Icons {

namespace {

void chooseTheme() {
    // A desktop session names its theme; the offscreen platform names none.
    // Without a desktop platform Qt searches only its resources: add the
    // freedesktop folders.
    static const bool themeChosen = [] {
        if (QIcon::themeName().isEmpty() || QIcon::themeName() == "hicolor") {
            auto paths = QIcon::themeSearchPaths();
            for (const auto& folder :
                 QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
                if (!paths.contains(folder + "/icons"))
                    paths.append(folder + "/icons");
            }
            QIcon::setThemeSearchPaths(paths);
            QIcon::setThemeName("Adwaita");
        }
        // A desktop theme that lacks a name falls back to Adwaita, which the
        // program depends on: an icon-only button must never come up blank.
        if (QIcon::fallbackThemeName().isEmpty())
            QIcon::setFallbackThemeName("Adwaita");
        return true;
    }();
    (void)themeChosen;
}

using Listing = std::map<QString, std::unordered_set<std::string>>;

std::unordered_set<std::string> namesIn(const QString& folder) {
    std::unordered_set<std::string> names;
    if (folder.startsWith(':')) {
        // Qt's resources are no folder on disk.
        for (const QString& entry : QDir(folder).entryList(QDir::Files))
            names.insert(entry.toStdString());
    } else if (const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(QFile::encodeName(folder)),
                                                             ::closedir);
               dir) {
        while (const dirent* entry = ::readdir(dir.get()))
            names.insert(entry->d_name);
    }
    return names;
}

// The folders that prefetch() reads on a thread of their own.
std::future<Listing>& pendingListing() {
    static std::future<Listing> pending;
    return pending;
}

// The file names in `folder`, read once per run.
const std::unordered_set<std::string>& entriesOf(const QString& folder) {
    static Listing read;
    if (std::future<Listing>& pending = pendingListing(); pending.valid())
        read.merge(pending.get());
    if (const auto found = read.find(folder); found != read.end())
        return found->second;
    return read.emplace(folder, namesIn(folder)).first->second;
}

struct SymbolicFolder {
    int size;
    QString path;
};

// Where a theme under `searchPath` keeps its symbolic images, by size, then
// in the order of the contexts searched.
std::vector<SymbolicFolder> symbolicFoldersIn(const QString& searchPath) {
    static const char* const contexts[] = {"status",  "actions", "places", "mimetypes",
                                           "emblems", "devices", "apps",   "categories",
                                           "legacy",  "ui"};
    const QString theme = searchPath + "/" + QIcon::themeName();
    std::vector<SymbolicFolder> folders;
    for (const int size : {16, 24, 32, 48, 64})
        for (const char* context : contexts)
            folders.push_back({size, QString("%1/%2x%2/%3").arg(theme).arg(size).arg(context)});
    return folders;
}

// The theme's "<name>-symbolic.symbolic.png" files, one per size: the
// first search folder that holds any of them, and in it for each size the
// first context that has one. Each folder is read once per run and then
// looked up, rather than probed per name, size and context.
std::vector<TintedIconEngine::File> findSymbolicFiles(const QString& name) {
    const std::string file = (name + "-symbolic.symbolic.png").toStdString();
    for (const QString& searchPath : QIcon::themeSearchPaths()) {
        std::vector<TintedIconEngine::File> found;
        for (const SymbolicFolder& folder : symbolicFoldersIn(searchPath)) {
            if ((found.empty() || found.back().size != folder.size) &&
                entriesOf(folder.path).count(file))
                found.push_back({folder.size, folder.path + "/" + QString::fromStdString(file)});
        }
        // The first folder that holds the name gives all its images.
        if (!found.empty())
            return found;
    }
    return {};
}

const std::vector<TintedIconEngine::File>& symbolicFiles(const QString& name) {
    static QStringList searchedPaths;
    static QString searchedTheme;
    static std::map<QString, std::vector<TintedIconEngine::File>> found;
    if (searchedPaths != QIcon::themeSearchPaths() || searchedTheme != QIcon::themeName()) {
        searchedPaths = QIcon::themeSearchPaths();
        searchedTheme = QIcon::themeName();
        found.clear();
    }
    if (const auto known = found.find(name); known != found.end())
        return known->second;
    return found.emplace(name, findSymbolicFiles(name)).first->second;
}

QIcon symbolicIcon(const std::string& freedesktopName, const QColor& colour,
                   std::optional<QColor> disabled) {
    chooseTheme();
    // The icon is kept per name and colours; the files behind it are found
    // once per name and read only at the sizes painted.
    static std::map<std::tuple<std::string, QRgb, std::optional<QRgb>>, QIcon> cache;
    const auto key =
        std::make_tuple(freedesktopName, colour.rgba(),
                        disabled ? std::optional<QRgb>(disabled->rgba()) : std::nullopt);
    if (const auto found = cache.find(key); found != cache.end())
        return found->second;
    const auto& files = symbolicFiles(QString::fromStdString(freedesktopName));
    // A theme file that cannot be read counts as missing, so the button
    // falls back rather than coming up blank; the smallest is read here.
    QIcon icon;
    if (!files.empty() && !TintedIconEngine::image(files.front().path).isNull())
        icon = QIcon(new TintedIconEngine(files, colour, disabled));
    else
        icon = named(freedesktopName);
    cache.emplace(key, icon);
    return icon;
}

} // namespace

void prefetch() {
    chooseTheme();
    if (pendingListing().valid())
        return;
    std::vector<SymbolicFolder> folders;
    for (const QString& searchPath : QIcon::themeSearchPaths())
        for (SymbolicFolder& folder : symbolicFoldersIn(searchPath))
            folders.push_back(std::move(folder));
    pendingListing() = std::async(std::launch::async, [folders = std::move(folders)] {
        Listing listing;
        for (const SymbolicFolder& folder : folders)
            listing.emplace(folder.path, namesIn(folder.path));
        return listing;
    });
}

QIcon named(const std::string& freedesktopName) {
    chooseTheme();
    const QString name = QString::fromStdString(freedesktopName);
    QIcon icon = QIcon::fromTheme(name);
    if (!icon.isNull())
        return icon;
    const auto bundled = L10n::resourceBundle() / "Icons" / (freedesktopName + ".png");
    std::error_code error;
    if (std::filesystem::is_regular_file(bundled, error))
        return QIcon(QString::fromStdString(bundled.string()));
    return {};
}

QIcon symbolic(const std::string& freedesktopName, const QColor& colour) {
    return symbolicIcon(freedesktopName, colour, std::nullopt);
}

QIcon symbolic(const std::string& freedesktopName, const QColor& colour,
               const QColor& disabledColour) {
    return symbolicIcon(freedesktopName, colour, disabledColour);
}

} // namespace vessora::Icons
