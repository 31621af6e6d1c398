#include "Vessora/App/Branding.hpp"

#include "VessoraCore/Foundation/L10n.hpp"
#include "VessoraCore/Updates/ProductSite.hpp"

#include <QImage>
#include <QString>

#include <algorithm>
#include <filesystem>
#include <future>
#include <limits>
#include <system_error>
#include <vector>

namespace vessora::Branding {

namespace {

struct Images {
    QImage logo;
    std::vector<QImage> appIcon;
};

// In the format pixmaps keep, so none is converted on the interface's thread.
QImage readImage(const std::filesystem::path& file) {
    return QImage(QString::fromStdString(file.string()))
        .convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

Images read() {
    const auto folder = L10n::resourceBundle() / "Branding";
    Images images;
    images.logo = readImage(folder / "vessora-icon-dark-v1.png");
    std::error_code error;
    for (auto entry = std::filesystem::directory_iterator(folder / "hicolor", error);
         !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        const QImage image = readImage(entry->path() / "apps" / "vessora.png");
        if (!image.isNull())
            images.appIcon.push_back(image);
    }
    std::sort(images.appIcon.begin(), images.appIcon.end(),
              [](const QImage& a, const QImage& b) { return a.width() < b.width(); });
    return images;
}

std::shared_future<Images>& reading() {
    static std::shared_future<Images> future;
    return future;
}

const Images& images() {
    prefetch();
    static const Images done = reading().get();
    return done;
}

// Made on the interface's thread, as pixmaps are.
QIcon iconUpTo(int largest) {
    QIcon made;
    for (const QImage& image : images().appIcon)
        if (image.width() <= largest)
            made.addPixmap(QPixmap::fromImage(image));
    return made;
}

} // namespace

std::string supportURL() {
    // The site forwards to the current donation page, so the program never
    // has to change when the payment service does.
    return ProductSite::address() + "/support";
}

void prefetch() {
    if (!reading().valid())
        reading() = std::async(std::launch::async, read).share();
}

const QPixmap& icon() {
    static const QPixmap image = QPixmap::fromImage(images().logo);
    return image;
}

const QIcon& appIcon() {
    static const QIcon icon = iconUpTo(std::numeric_limits<int>::max());
    return icon;
}

const QIcon& windowIcon() {
    static const QIcon icon = iconUpTo(256);
    return icon;
}

} // namespace vessora::Branding
