#include "app/language.h"

#include <QCoreApplication>
#include <QTranslator>

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
