// Qt's own texts (the file dialog, the buttons of message boxes) in the language of the
// program's texts, from the translations Qt ships.
#pragma once
#include <QTranslator>
#include <memory>
#include <optional>

#include "poster/ExtraTexts.h"

namespace tilvorn {

class TQtTranslations {
public:
    /// Installs Qt's translation for the language in the application, in place of the one
    /// installed before; Qt's texts are English without one. A missing translation file
    /// leaves Qt's English texts.
    void Use(TTextLanguage language);
    /// The language last asked for.
    std::optional<TTextLanguage> Language() const { return language_; }
    /// True when a translation is installed.
    bool Installed() const { return translator_ != nullptr; }

private:
    std::optional<TTextLanguage> language_;
    std::unique_ptr<QTranslator> translator_;  // removed from the application as it goes
};

}  // namespace tilvorn
