#include "store/passwordprotection.h"

#include "platform/platform.h"
#include "store/storelog.h"

#include <QMessageBox>

#include <algorithm>
#include <vector>

namespace {

// Clears a buffer that held a password in a way the compiler may not drop as a dead store.
void wipe(std::vector<std::uint8_t> &bytes)
{
    volatile std::uint8_t *p = bytes.data();
    for (std::size_t i = 0; i < bytes.size(); ++i)
        p[i] = 0;
    bytes.clear();
}

bool isHexDigit(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'F') || (u >= u'a' && u <= u'f');
}

} // namespace

QString protectPassword(const QString &password)
{
    // UTF-16LE code units up to the first U+0000, then a 16-bit zero terminator.
    const qsizetype end = password.indexOf(QChar(u'\0'));
    const qsizetype length = end < 0 ? password.size() : end;
    std::vector<std::uint8_t> plain;
    plain.reserve(static_cast<std::size_t>(length) * 2 + 2);
    for (qsizetype i = 0; i < length; ++i) {
        const char16_t unit = password.at(i).unicode();
        plain.push_back(static_cast<std::uint8_t>(unit & 0xff));
        plain.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    plain.push_back(0);
    plain.push_back(0);

    std::vector<std::uint8_t> blob;
    std::uint32_t error = 0;
    const bool ok = platform::protectData(plain, blob, error);
    wipe(plain);
    if (!ok) {
        reportWindowsError(error);
        return {};
    }

    static const char digits[] = "0123456789ABCDEF";
    QString text;
    text.reserve(static_cast<qsizetype>(blob.size()) * 2);
    for (const std::uint8_t byte : blob) {
        text.append(QLatin1Char(digits[byte >> 4]));
        text.append(QLatin1Char(digits[byte & 0x0f]));
    }
    return text;
}

QString unprotectPassword(const QString &protectedText)
{
    // Such text never comes from protectPassword: refused without asking the system.
    if (protectedText.size() % 2 != 0 || !std::all_of(protectedText.cbegin(), protectedText.cend(), isHexDigit))
        return {};

    const QByteArray decoded = QByteArray::fromHex(protectedText.toLatin1());
    const std::vector<std::uint8_t> blob(decoded.cbegin(), decoded.cend());
    std::vector<std::uint8_t> plain;
    if (!platform::unprotectData(blob, plain)) {
        wipe(plain);
        return {};
    }

    // Drop the terminator: (L - 2) / 2 code units, none below four bytes.
    const std::size_t units = plain.size() >= 4 ? (plain.size() - 2) / 2 : 0;
    QString password;
    password.reserve(static_cast<qsizetype>(units));
    for (std::size_t i = 0; i < units; ++i)
        password.append(QChar(static_cast<char16_t>(plain[2 * i] | (plain[2 * i + 1] << 8))));
    wipe(plain);
    return password;
}

void reportWindowsError(std::uint32_t code)
{
    const QString text = QString::fromStdU16String(platform::systemErrorText(code));
    qCDebug(lcStore).noquote() << text;
    QMessageBox::critical(nullptr, QStringLiteral("My Application"), text,
                          QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel,
                          QMessageBox::Save);
}
