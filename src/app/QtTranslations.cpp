#include "app/QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <algorithm>
#include <array>

namespace tilvorn {

namespace {

// The translation catalogue of Qt's own widgets for each language; none for English, the
// language Qt is written in.
struct TQtCatalogue {
    TTextLanguage language;
    const char* file;  // without folder and ".qm"; nullptr for none
};

constexpr std::array kQtCatalogues = {
    TQtCatalogue{TTextLanguage::Russian, "qtbase_ru"},
    TQtCatalogue{TTextLanguage::English, nullptr},
};

}  // namespace

void TQtTranslations::Use(TTextLanguage language) {
    if (language_ == language) return;  // each activation asks again: no reload, no relayout
    language_ = language;
    translator_.reset();
    const auto catalogue = std::find_if(kQtCatalogues.begin(), kQtCatalogues.end(),
                                        [language](const TQtCatalogue& c) { return c.language == language; });
    if (catalogue == kQtCatalogues.end() || !catalogue->file) return;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QString::fromLatin1(catalogue->file), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return;
    QCoreApplication::installTranslator(translator.get());
    translator_ = std::move(translator);
}

}  // namespace tilvorn
