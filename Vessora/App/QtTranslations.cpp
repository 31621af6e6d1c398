#include "Vessora/App/QtTranslations.hpp"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <memory>

namespace vessora::QtTranslations {

bool install(const std::string& code) {
    if (code.empty() || code == "en")
        return false;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QString::fromStdString("qtbase_" + code),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(translator.get()))
        return false;
    // The application owns it from here, so it lives as long as its texts.
    translator.release()->setParent(QCoreApplication::instance());
    return true;
}

} // namespace vessora::QtTranslations
