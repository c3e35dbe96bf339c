#include "language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace forms {

void installQtTranslation(const QString &catalogue)
{
    auto *translator = new QTranslator(QCoreApplication::instance());
    if (translator->load(QLocale(QString::fromLatin1(LanguageTag)), catalogue, QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
}

} // namespace forms
