#include "app/qttranslation.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

#include <memory>

namespace corvane::app {

bool installQtChineseTranslation(QCoreApplication& application)
{
    const QStringList folders = {
        QLibraryInfo::location(QLibraryInfo::TranslationsPath),
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("translations"))};
    for (const QString& folder : folders) {
        auto translator = std::make_unique<QTranslator>(&application);
        if (translator->load(QStringLiteral("qtbase_zh_CN"), folder)) {
            application.installTranslator(translator.release());
            return true;
        }
    }
    return false;
}

} // namespace corvane::app
