#include "Vessora/App/Icons.hpp"

#include "VessoraCore/Foundation/L10n.hpp"

#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QStandardPaths>
#include <QString>

#include <filesystem>
#include <map>
#include <utility>

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

// The theme's "<name>-symbolic.symbolic.png" images, one per size folder.
QIcon symbolicImages(const QString& name, const QColor& colour) {
    static const char* contexts[] = {"status",  "actions", "places",     "mimetypes", "emblems",
                                     "devices", "apps",    "categories", "legacy",    "ui"};
    QIcon icon;
    for (const QString& folder : QIcon::themeSearchPaths()) {
        const QString theme = folder + "/" + QIcon::themeName();
        for (const int size : {16, 24, 32, 48, 64}) {
            for (const char* context : contexts) {
                const QString file = QString("%1/%2x%2/%3/%4-symbolic.symbolic.png")
                                         .arg(theme)
                                         .arg(size)
                                         .arg(context, name);
                QImage image;
                if (!image.load(file))
                    continue;
                image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
                QPainter painter(&image);
                painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
                painter.fillRect(image.rect(), colour);
                painter.end();
                icon.addPixmap(QPixmap::fromImage(image));
                break;
            }
        }
        if (!icon.isNull())
            break;
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
    // Looked up once per name and colour: a look-up probes many files.
    static std::map<std::pair<std::string, QRgb>, QIcon> cache;
    const auto key = std::make_pair(freedesktopName, colour.rgba());
    if (const auto found = cache.find(key); found != cache.end())
        return found->second;
    QIcon icon = symbolicImages(QString::fromStdString(freedesktopName), colour);
    if (icon.isNull())
        icon = named(freedesktopName);
    cache.emplace(key, icon);
    return icon;
}

} // namespace vessora::Icons
