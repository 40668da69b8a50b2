#include "lookup/jsonreader.h"
#include "support/testmain.h"

#include <QElapsedTimer>
#include <QMetaType>

// The reader's lenient rules, each case one row: the text, whether the read
// succeeds, and the value it gives.
class TestJsonReader : public QObject
{
    Q_OBJECT

private slots:
    void values_data();
    void values();
    void failures_data();
    void failures();
    void nullText();
    void deepNesting_data();
    void deepNesting();
};

static QVariantMap map(std::initializer_list<std::pair<QString, QVariant>> entries)
{
    QVariantMap m;
    for (const auto &[k, v] : entries)
        m.insert(k, v);
    return m;
}

void TestJsonReader::values_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("empty object") << "{}" << QVariant(QVariantMap());
    QTest::newRow("empty array") << " [ ] " << QVariant(QVariantList());
    QTest::newRow("selector answer")
        << R"({"TerminalServerDetails": {"host": "ts1.example", "port": 3389}})"
        << QVariant(map({{"TerminalServerDetails",
                          map({{"host", "ts1.example"}, {"port", QVariant(3389u)}})}}));
    QTest::newRow("trailing comma") << R"({"a":1,})" << QVariant(map({{"a", 1u}}));
    QTest::newRow("no comma between members")
        << R"({"a":1 "b":true})" << QVariant(map({{"a", 1u}, {"b", true}}));
    QTest::newRow("leading and repeated commas")
        << R"({,,"a":false,,})" << QVariant(map({{"a", false}}));
    QTest::newRow("two commas in an array") << "[1,,2]" << QVariant(QVariantList{1u, 2u});
    QTest::newRow("duplicate key keeps the second")
        << R"({"k":"first","k":"second"})" << QVariant(map({{"k", "second"}}));
    QTest::newRow("text after the object ignored")
        << R"({"a":"b"} trailing <html>)" << QVariant(map({{"a", "b"}}));
    QTest::newRow("key starting with a digit is stored under an empty key")
        << R"({5":1})" << QVariant(map({{"", 1u}}));
    QTest::newRow("null member") << R"({"a":null})" << QVariant(map({{"a", QVariant()}}));
    QTest::newRow("nested arrays")
        << R"([[1],["x",[]]])"
        << QVariant(QVariantList{QVariantList{1u}, QVariantList{"x", QVariantList()}});

    // Numbers: typed by their text.
    QTest::newRow("5 is uint") << "5" << QVariant(5u);
    QTest::newRow("3389 is uint") << "3389" << QVariant(3389u);
    QTest::newRow("-5 is int") << "-5" << QVariant(-5);
    QTest::newRow("3000000000 is uint") << "3000000000" << QVariant(3000000000u);
    QTest::newRow("-3000000000 is qlonglong")
        << "-3000000000" << QVariant(Q_INT64_C(-3000000000));
    QTest::newRow("5000000000 is qulonglong")
        << "5000000000" << QVariant(Q_UINT64_C(5000000000));
    QTest::newRow("1.5e3 is double") << "1.5e3" << QVariant(1500.0);
    QTest::newRow("1.2.3 is double 0") << "1.2.3" << QVariant(0.0);
    QTest::newRow("1e5 stays text") << "1e5" << QVariant(QStringLiteral("1e5"));
    QTest::newRow("lone minus is text") << "-" << QVariant(QStringLiteral("-"));
    QTest::newRow("too big for 64 bits is text")
        << "99999999999999999999" << QVariant(QStringLiteral("99999999999999999999"));

    // Strings and escapes.
    QTest::newRow("empty string") << R"("")" << QVariant(QStringLiteral(""));
    QTest::newRow("escapes")
        << R"("\"\\\/\b\f\n\r\t")" << QVariant(QStringLiteral("\"\\/\b\f\n\r\t"));
    QTest::newRow("unicode escape") << R"("\u00e8")" << QVariant(QStringLiteral("è"));
    QTest::newRow("surrogate pair") << R"("\ud83d\ude00")" << QVariant(QStringLiteral("😀"));
    QTest::newRow("non-hex unicode escape gives U+0000")
        << R"("a\uzzzzb")" << QVariant(QStringView(u"a\u0000b", 3).toString());
    QTest::newRow("unknown escape adds nothing") << R"("a\qb")" << QVariant(QStringLiteral("ab"));
    QTest::newRow("raw control and non-ASCII kept")
        << "\"a\tb€\"" << QVariant(QStringLiteral("a\tb€"));

    // Literals.
    QTest::newRow("true followed by x at the top") << "truex" << QVariant(true);
    QTest::newRow("false") << " false" << QVariant(false);
    QTest::newRow("null at the top is invalid") << "null" << QVariant();
}

void TestJsonReader::values()
{
    QFETCH(QString, text);
    QFETCH(QVariant, expected);

    bool ok = false;
    const QVariant value = JsonReader::read(text, ok);
    QVERIFY(ok);
    QCOMPARE(value.metaType(), expected.metaType());
    QCOMPARE(value, expected);
}

void TestJsonReader::failures_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QVariant>("expected"); // decided by the outermost value

    const QVariant emptyMap = QVariant(QVariantMap());
    const QVariant emptyList = QVariant(QVariantList());

    QTest::newRow("empty text") << "" << QVariant();
    QTest::newRow("blanks only") << " \t\r\n" << QVariant();
    QTest::newRow("form feed is no blank") << "\f1" << QVariant();
    QTest::newRow("leading plus") << "+5" << QVariant();
    QTest::newRow("HTML page") << "<html><body>502</body></html>" << QVariant();
    QTest::newRow("key without colon") << R"({"a" 1})" << emptyMap;
    QTest::newRow("missing value before brace") << R"({"a":})" << emptyMap;
    QTest::newRow("object cut off") << R"({"a":1)" << emptyMap;
    QTest::newRow("failure deep inside an object")
        << R"({"a":{"b":[1,2,}]}})" << emptyMap;
    QTest::newRow("array cut off") << "[1,2" << emptyList;
    QTest::newRow("true followed by x in an array") << "[truex]" << emptyList;
    QTest::newRow("letter at key position") << R"({abc:1})" << emptyMap;
    QTest::newRow("string without closing mark") << R"("abc)" << QVariant();
    QTest::newRow("backslash at the end") << R"("abc\)" << QVariant();
    QTest::newRow("short unicode escape") << R"("\u12")" << QVariant();
    QTest::newRow("capitalised literal") << "True" << QVariant();
    QTest::newRow("closing bracket first") << "]" << QVariant();
}

void TestJsonReader::failures()
{
    QFETCH(QString, text);
    QFETCH(QVariant, expected);

    bool ok = true;
    const QVariant value = JsonReader::read(text, ok);
    QVERIFY(!ok);
    QCOMPARE(value.metaType(), expected.metaType());
    QCOMPARE(value, expected);
}

void TestJsonReader::nullText()
{
    bool ok = false;
    const QVariant value = JsonReader::read(QString(), ok);
    QVERIFY(ok);
    QVERIFY(!value.isValid());
}

void TestJsonReader::deepNesting_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");

    const int limit = JsonReader::maxDepth;
    QTest::newRow("arrays at the limit")
        << QString(limit, u'[') + QString(limit, u']') << true;
    QTest::newRow("arrays one past the limit")
        << QString(limit + 1, u'[') + QString(limit + 1, u']') << false;
    QTest::newRow("100000 open brackets") << QString(100000, u'[') << false;
    QTest::newRow("100000 nested objects")
        << QString("{\"a\":").repeated(100000) << false;
}

void TestJsonReader::deepNesting()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);

    bool readOk = !ok;
    JsonReader::read(text, readOk);
    QCOMPARE(readOk, ok);
}

TESSARINO_TEST_MAIN(TestJsonReader)
#include "tst_jsonreader.moc"
