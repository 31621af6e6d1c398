// A single-colour icon drawn from a theme's image files only at the sizes
// that are painted: each file is read once per run, whatever colour it is
// drawn in, and a size no one paints is never read. A disabled colour of its
// own replaces the style's greying; the other modes are made from the
// normal image the way Qt makes them for any icon.
#pragma once

#include <QColor>
#include <QIconEngine>
#include <QPixmap>
#include <QString>

#include <map>
#include <optional>
#include <tuple>
#include <vector>

namespace vessora {

class TintedIconEngine final : public QIconEngine {
public:
    struct File {
        int size = 0;
        QString path;
    };

    // `files` must not be empty.
    TintedIconEngine(std::vector<File> files, QColor colour, std::optional<QColor> disabled);

    QIconEngine* clone() const override;
    QString key() const override;
    bool isNull() override;
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override;
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override;
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override;
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override;
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override;

    // The image behind `path`, read once; null where it cannot be read.
    static const QImage& image(const QString& path);

private:
    const File& bestFile(const QSize& size) const;

    std::vector<File> files_;
    QColor colour_;
    std::optional<QColor> disabled_;
    // Drawn pixmaps by file size, mode and size asked for.
    std::map<std::tuple<int, int, int, int>, QPixmap> drawn_;
};

} // namespace vessora
