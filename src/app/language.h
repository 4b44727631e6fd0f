#pragma once
// The interface language. Chinese is the language the texts are written in;
// English comes from a catalogue compiled into the program.

#include <QString>

class QCoreApplication;

// Installs the catalogue for language ("zh" or "en") into app. It must run
// before the first window is made: texts translated once and kept (log
// pieces, table entries) are translated at their first use. Returns false
// when the catalogue cannot be loaded; the interface then stays Chinese.
bool useLanguage(QCoreApplication &app, const QString &language);

// The language the interface can be shown in: Chinese needs an installed
// font with its glyphs, or every text is drawn as boxes; without one this
// is English, and *why says so. Asks the font database: call it once the
// application object exists.
[[nodiscard]] QString usableLanguage(const QString &requested, QString *why);
