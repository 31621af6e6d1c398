#include "Vessora/App/Icons.hpp"

#include "VessoraCore/Foundation/L10n.hpp"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QStandardPaths>
#include <QString>

#include <filesystem>
#include <map>
#include <optional>
#include <set>
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

// The theme's "<name>-symbolic.symbolic.png" files by name, one per size:
// the first search folder that holds any of them, and in it for each size
// the first context that has one. Listed once per theme and search path
// rather than probed per name, size and context.
using SymbolicFiles = std::map<QString, std::vector<QString>>;

SymbolicFiles listSymbolicFiles() {
    static const char* contexts[] = {"status",  "actions", "places",     "mimetypes", "emblems",
                                     "devices", "apps",    "categories", "legacy",    "ui"};
    static const QString suffix = "-symbolic.symbolic.png";
    SymbolicFiles files;
    for (const QString& folder : QIcon::themeSearchPaths()) {
        SymbolicFiles here;
        const QString theme = folder + "/" + QIcon::themeName();
        for (const int size : {16, 24, 32, 48, 64}) {
            std::set<QString> sized;
            for (const char* context : contexts) {
                const QDir dir(QString("%1/%2x%2/%3").arg(theme).arg(size).arg(context));
                for (const QString& entry : dir.entryList({"*" + suffix}, QDir::Files)) {
                    const QString name = entry.chopped(suffix.size());
                    if (sized.insert(name).second)
                        here[name].push_back(dir.filePath(entry));
                }
            }
        }
        // A name found in an earlier folder keeps that folder's images.
        for (auto& [name, paths] : here)
            files.emplace(name, std::move(paths));
    }
    return files;
}

const std::vector<QString>& symbolicFiles(const QString& name) {
    static QStringList listedPaths;
    static QString listedTheme;
    static std::optional<SymbolicFiles> listed;
    if (!listed || listedPaths != QIcon::themeSearchPaths() || listedTheme != QIcon::themeName()) {
        listedPaths = QIcon::themeSearchPaths();
        listedTheme = QIcon::themeName();
        listed = listSymbolicFiles();
    }
    static const std::vector<QString> none;
    const auto found = listed->find(name);
    return found == listed->end() ? none : found->second;
}

// The images of a name, loaded once whatever colour they are drawn in.
const std::vector<QImage>& symbolicImages(const QString& name) {
    static std::map<QString, std::vector<QImage>> loaded;
    if (const auto found = loaded.find(name); found != loaded.end())
        return found->second;
    std::vector<QImage> images;
    for (const QString& file : symbolicFiles(name)) {
        QImage image;
        if (image.load(file))
            images.push_back(image.convertToFormat(QImage::Format_ARGB32_Premultiplied));
    }
    return loaded.emplace(name, std::move(images)).first->second;
}

QIcon tinted(const std::vector<QImage>& images, const QColor& colour) {
    QIcon icon;
    for (QImage image : images) {
        QPainter painter(&image);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), colour);
        painter.end();
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

} // namespace

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
    chooseTheme();
    // The drawn icon is kept per name and colour; the files behind it are
    // found and loaded once per name.
    static std::map<std::pair<std::string, QRgb>, QIcon> cache;
    const auto key = std::make_pair(freedesktopName, colour.rgba());
    if (const auto found = cache.find(key); found != cache.end())
        return found->second;
    QIcon icon = tinted(symbolicImages(QString::fromStdString(freedesktopName)), colour);
    if (icon.isNull())
        icon = named(freedesktopName);
    cache.emplace(key, icon);
    return icon;
}

} // namespace vessora::Icons
