// A small, lenient JSON reader for the selector's answers: objects become
// QVariantMap, arrays QVariantList, strings QString, numbers typed by their text.
#pragma once

#include <QString>
#include <QVariant>

class JsonReader
{
public:
    enum class JsonToken {
        None,
        ObjectOpen,
        ObjectClose,
        ArrayOpen,
        ArrayClose,
        Colon,
        Comma,
        String,
        Number,
        True,
        False,
        Null,
    };

    // Deeper nesting than this fails the read instead of exhausting the stack.
    static constexpr int maxDepth = 512;

    // Reads the first value of `text`; anything after it is ignored. `ok` tells
    // whether the read succeeded; on failure the value is an empty map or list
    // when the text starts with an object or array, else an invalid QVariant.
    static QVariant read(const QString &text, bool &ok);

private:
    static void skipBlanks(const QString &text, int &index);
    static int numberEnd(const QString &text, int &index);
    static JsonToken takeToken(const QString &text, int &index);
    static JsonToken peekToken(const QString &text, int &index);
    static QVariant readValue(const QString &text, int &index, bool &ok, int depth);
    static QVariant readObject(const QString &text, int &index, bool &ok, int depth);
    static QVariant readArray(const QString &text, int &index, bool &ok, int depth);
    static QVariant readString(const QString &text, int &index, bool &ok);
    static QVariant readNumber(const QString &text, int &index);
};
