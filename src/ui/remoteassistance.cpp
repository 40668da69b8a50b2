// Remote assistance: starts the assistance tool shipped next to the program.
#include "app/buildconfig.h"
#include "platform/platform.h"
#include "ui/dialog.h"
#include "ui/uilog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>

void Dialog::richiediAssistenza()
{
    const QString tool = QDir::toNativeSeparators(QCoreApplication::applicationDirPath() + u'/'
        + QString::fromStdU16String(platform::executableFileName(u"qs")));

    if (!QFile::exists(tool)) {
        QMessageBox::critical(nullptr, QStringLiteral("Attenzione"),
            QStringLiteral("Non e' stato trovato l'eseguibile per l'assistenza remota. "
                           "Scaricatelo dal sito di Orvane:  http://")
                + BuildConfig::supportHost() + QStringLiteral("/index.php/page/support"),
            QMessageBox::Ok, QMessageBox::NoButton);
        return;
    }

    // The user is not told when the tool does not start; the line helps whoever
    // looks at the program's output.
    if (!platform::startDetached(tool.toStdU16String()))
        qCWarning(lcUi) << "the remote assistance tool did not start:" << tool;
}
