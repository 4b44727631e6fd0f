#include "app/language.h"

#include <QCoreApplication>
#include <QFontDatabase>
#include <QTranslator>

QString usableLanguage(const QString &requested, QString *why)
{
    if (requested == QLatin1String("en"))
        return requested;
    if (!QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty())
        return requested;
    if (why)
        *why = QStringLiteral("no installed font has Chinese glyphs (install fonts-wqy-microhei or "
                              "fonts-noto-cjk); the interface is English for this run");
    return QStringLiteral("en");
}

bool useLanguage(QCoreApplication &app, const QString &language)
{
    if (language != QLatin1String("en"))
        return true;
    // Owned by the application so that it lives as long as every text that
    // asks for it.
    auto *translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral(":/portwright/translations/portwright_en.qm"))) {
        delete translator;
        return false;
    }
    return app.installTranslator(translator);
}
