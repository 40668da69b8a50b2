#include "lookup/jsonreader.h"

#include <QVariantList>
#include <QVariantMap>

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

bool isNumberChar(QChar c)
{
    return (c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.' || c == u'e'
        || c == u'E';
}

// Four hexadecimal digits as one code unit; anything else gives 0.
char16_t hexCodeUnit(QStringView digits)
{
    char16_t value = 0;
    for (QChar c : digits) {
        int digit;
        if (c >= u'0' && c <= u'9')
            digit = c.unicode() - u'0';
        else if (c >= u'a' && c <= u'f')
            digit = c.unicode() - u'a' + 10;
        else if (c >= u'A' && c <= u'F')
            digit = c.unicode() - u'A' + 10;
        else
            return 0;
        value = static_cast<char16_t>(value * 16 + digit);
    }
    return value;
}

} // namespace

QVariant JsonReader::read(const QString &text, bool &ok)
{
    ok = true;
    if (text.isNull())
        return QVariant();
    int index = 0;
    return readValue(text, index, ok, 0);
}

void JsonReader::skipBlanks(const QString &text, int &index)
{
    while (index < text.size() && isBlank(text.at(index)))
        ++index;
}

int JsonReader::numberEnd(const QString &text, int &index)
{
    int last = index;
    while (last + 1 < text.size() && isNumberChar(text.at(last + 1)))
        ++last;
    return last;
}

JsonReader::JsonToken JsonReader::takeToken(const QString &text, int &index)
{
    skipBlanks(text, index);
    if (index >= text.size())
        return JsonToken::None;

    const QChar c = text.at(index++);
    switch (c.unicode()) {
    case u'{':
        return JsonToken::ObjectOpen;
    case u'}':
        return JsonToken::ObjectClose;
    case u'[':
        return JsonToken::ArrayOpen;
    case u']':
        return JsonToken::ArrayClose;
    case u':':
        return JsonToken::Colon;
    case u',':
        return JsonToken::Comma;
    case u'"':
        return JsonToken::String;
    case u'-':
        return JsonToken::Number;
    default:
        break;
    }
    if (c >= u'0' && c <= u'9')
        return JsonToken::Number;

    --index;
    const QStringView rest = QStringView(text).mid(index);
    // The character after a literal is not looked at: "truex" reads as true.
    if (rest.startsWith(u"true")) {
        index += 4;
        return JsonToken::True;
    }
    if (rest.startsWith(u"false")) {
        index += 5;
        return JsonToken::False;
    }
    if (rest.startsWith(u"null")) {
        index += 4;
        return JsonToken::Null;
    }
    return JsonToken::None;
}

JsonReader::JsonToken JsonReader::peekToken(const QString &text, int &index)
{
    int copy = index;
    return takeToken(text, copy);
}

QVariant JsonReader::readValue(const QString &text, int &index, bool &ok, int depth)
{
    switch (peekToken(text, index)) {
    case JsonToken::ObjectOpen:
        return readObject(text, index, ok, depth + 1);
    case JsonToken::ArrayOpen:
        return readArray(text, index, ok, depth + 1);
    case JsonToken::String:
        return readString(text, index, ok);
    case JsonToken::Number:
        return readNumber(text, index);
    case JsonToken::True:
        takeToken(text, index);
        return QVariant(true);
    case JsonToken::False:
        takeToken(text, index);
        return QVariant(false);
    case JsonToken::Null:
        takeToken(text, index);
        return QVariant();
    default:
        ok = false;
        return QVariant();
    }
}

QVariant JsonReader::readObject(const QString &text, int &index, bool &ok, int depth)
{
    QVariantMap map;
    takeToken(text, index);
    if (depth > maxDepth) {
        ok = false;
        return QVariantMap();
    }

    for (;;) {
        switch (peekToken(text, index)) {
        case JsonToken::None:
            ok = false;
            return QVariantMap();
        case JsonToken::Comma:
            // Commas are neither required nor counted.
            takeToken(text, index);
            continue;
        case JsonToken::ObjectClose:
            takeToken(text, index);
            return map;
        default:
            break;
        }

        const QString key = readString(text, index, ok).toString();
        if (!ok)
            return QVariantMap();
        if (takeToken(text, index) != JsonToken::Colon) {
            ok = false;
            return QVariantMap();
        }
        const QVariant value = readValue(text, index, ok, depth);
        if (!ok)
            return QVariantMap();
        map.insert(key, value);
    }
}

QVariant JsonReader::readArray(const QString &text, int &index, bool &ok, int depth)
{
    QVariantList list;
    takeToken(text, index);
    if (depth > maxDepth) {
        ok = false;
        return QVariantList();
    }

    for (;;) {
        switch (peekToken(text, index)) {
        case JsonToken::None:
            ok = false;
            return QVariantList();
        case JsonToken::Comma:
            takeToken(text, index);
            continue;
        case JsonToken::ArrayClose:
            takeToken(text, index);
            return list;
        default:
            break;
        }

        const QVariant value = readValue(text, index, ok, depth);
        if (!ok)
            return QVariantList();
        list.append(value);
    }
}

QVariant JsonReader::readString(const QString &text, int &index, bool &ok)
{
    skipBlanks(text, index);
    ++index; // the opening quotation mark, whatever stands there

    QString result;
    for (;;) {
        if (index >= text.size()) {
            ok = false;
            return QVariant();
        }
        const QChar c = text.at(index++);
        if (c == u'"')
            return result;
        if (c != u'\\') {
            result.append(c);
            continue;
        }

        if (index >= text.size()) {
            ok = false;
            return QVariant();
        }
        switch (text.at(index++).unicode()) {
        case u'"':
            result.append(u'"');
            break;
        case u'\\':
            result.append(u'\\');
            break;
        case u'/':
            result.append(u'/');
            break;
        case u'b':
            result.append(QChar(0x08));
            break;
        case u'f':
            result.append(QChar(0x0C));
            break;
        case u'n':
            result.append(QChar(0x0A));
            break;
        case u'r':
            result.append(QChar(0x0D));
            break;
        case u't':
            result.append(QChar(0x09));
            break;
        case u'u':
            if (text.size() - index < 4) {
                ok = false;
                return QVariant();
            }
            result.append(QChar(hexCodeUnit(QStringView(text).mid(index, 4))));
            index += 4;
            break;
        default:
            // An unknown escape adds nothing.
            break;
        }
    }
}

QVariant JsonReader::readNumber(const QString &text, int &index)
{
    skipBlanks(text, index);
    const int last = numberEnd(text, index);
    const QString number = text.mid(index, last - index + 1);
    index = last + 1;

    bool converted = false;
    if (number.contains(u'.'))
        return number.toDouble(); // 0.0 when it does not convert

    if (number.startsWith(u'-')) {
        const int i = number.toInt(&converted, 10);
        if (converted)
            return i;
        const qlonglong ll = number.toLongLong(&converted, 10);
        if (converted)
            return ll;
        return number;
    }

    const uint u = number.toUInt(&converted, 10);
    if (converted)
        return u;
    const qulonglong ull = number.toULongLong(&converted, 10);
    if (converted)
        return ull;
    return number;
}
