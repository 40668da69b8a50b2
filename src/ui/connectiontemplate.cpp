#include "ui/connectiontemplate.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTextStream>

QString connectionTemplatePath()
{
    return QDir::toNativeSeparators(
        QCoreApplication::applicationDirPath() + QStringLiteral("/default.rdp"));
}

QString readConnectionTemplate(const QString &path)
{
    // Not opened in text mode: the template's CR LF line ends are copied as they are
    // into every connection file.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QTextStream stream(&file);
    stream.setEncoding(QStringConverter::System);
    stream.setAutoDetectUnicode(true);
    return stream.readAll();
}
