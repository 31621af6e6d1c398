#include "Vessora/App/TintedIconEngine.hpp"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

#include <algorithm>
#include <utility>

namespace vessora {

TintedIconEngine::TintedIconEngine(std::vector<File> files, QColor colour,
                                   std::optional<QColor> disabled)
    : files_(std::move(files)), colour_(colour), disabled_(disabled) {
    std::sort(files_.begin(), files_.end(),
              [](const File& a, const File& b) { return a.size < b.size; });
}

QIconEngine* TintedIconEngine::clone() const {
    return new TintedIconEngine(*this);
}

QString TintedIconEngine::key() const {
    return "TintedIconEngine";
}

bool TintedIconEngine::isNull() {
    return files_.empty();
}

const QImage& TintedIconEngine::image(const QString& path) {
    static std::map<QString, QImage> read;
    if (const auto found = read.find(path); found != read.end())
        return found->second;
    QImage loaded;
    if (loaded.load(path))
        loaded = loaded.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    return read.emplace(path, std::move(loaded)).first->second;
}

// The smallest image at least as large as asked for, else the largest, as
// Qt chooses among an icon's pixmaps.
const TintedIconEngine::File& TintedIconEngine::bestFile(const QSize& size) const {
    const int wanted = std::max(size.width(), size.height());
    for (const File& file : files_)
        if (file.size >= wanted)
            return file;
    return files_.back();
}

QSize TintedIconEngine::actualSize(const QSize& size, QIcon::Mode, QIcon::State) {
    if (files_.empty())
        return {};
    const int side = bestFile(size).size;
    QSize actual(side, side);
    if (actual.width() > size.width() || actual.height() > size.height())
        actual.scale(size, Qt::KeepAspectRatio);
    return actual;
}

QList<QSize> TintedIconEngine::availableSizes(QIcon::Mode, QIcon::State) {
    QList<QSize> sizes;
    for (const File& file : files_)
        sizes.append(QSize(file.size, file.size));
    return sizes;
}

QPixmap TintedIconEngine::pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) {
    if (files_.empty() || size.isEmpty())
        return {};
    const File& file = bestFile(size);
    const QSize actual = actualSize(size, mode, state);
    const auto key = std::make_tuple(file.size, int(mode), actual.width(), actual.height());
    if (const auto found = drawn_.find(key); found != drawn_.end())
        return found->second;

    const bool ownDisabled = mode == QIcon::Disabled && disabled_;
    QImage tinted = image(file.path);
    if (tinted.isNull())
        return {};
    QPainter painter(&tinted);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(tinted.rect(), ownDisabled ? *disabled_ : colour_);
    painter.end();
    QPixmap drawn = QPixmap::fromImage(std::move(tinted));
    if (drawn.size() != actual)
        drawn = drawn.scaled(actual, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (mode != QIcon::Normal && !ownDisabled) {
        if (auto* application = qobject_cast<QApplication*>(QCoreApplication::instance())) {
            QStyleOption option(0);
            option.palette = QApplication::palette();
            const QPixmap generated =
                application->style()->generatedIconPixmap(mode, drawn, &option);
            if (!generated.isNull())
                drawn = generated;
        }
    }
    drawn_.emplace(key, drawn);
    return drawn;
}

QPixmap TintedIconEngine::scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                                       qreal scale) {
    // QIcon hands over the size in device pixels already.
    QPixmap drawn = pixmap(size, mode, state);
    drawn.setDevicePixelRatio(scale);
    return drawn;
}

void TintedIconEngine::paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
                             QIcon::State state) {
    const qreal scale = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    painter->drawPixmap(rect, pixmap(rect.size() * scale, mode, state));
}

} // namespace vessora
