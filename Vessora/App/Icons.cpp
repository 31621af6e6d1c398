#include "Vessora/App/Icons.hpp"

#include "VessoraCore/Foundation/L10n.hpp"

#include <QStandardPaths>
#include <QString>

#include <filesystem>

namespace vessora::Icons {

QIcon named(const std::string& freedesktopName) {
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
        return true;
    }();
    (void)themeChosen;
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

} // namespace vessora::Icons
