#include "platform/platform.h"
#include "store/passwordprotection.h"
#include "support/messageboxwatcher.h"
#include "support/testmain.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstring>
#include <memory>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Where the Linux side keeps the user's protection key (see platform/linux/protection.cpp).
QString keyFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
           + QStringLiteral("/tessarino-keys");
}

QString keyFile()
{
    return keyFolder() + QStringLiteral("/protection.key");
}

mode_t modeOf(const QString &path)
{
    struct stat info{};
    if (lstat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

// The text with one bit of blob byte `index` flipped (negative: counted from the end).
QString flipBit(const QString &text, int index)
{
    QByteArray blob = QByteArray::fromHex(text.toLatin1());
    blob[index < 0 ? blob.size() + index : index] ^= 0x04;
    return QString::fromLatin1(blob.toHex().toUpper());
}

} // namespace

class TestPasswordProtection : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void roundTrip_data();
    void roundTrip();
    void nulCutsPassword();
    void refusedTexts_data();
    void refusedTexts();
    void anotherUsersKeyIsRefused();
    void keyFileIsPrivate();
    void keyFileRules_data();
    void keyFileRules();
    void racingProcessesShareOneKey();

private:
    // Every test starts with a data folder of its own, so with no key yet.
    std::unique_ptr<QTemporaryDir> m_data;
    QByteArray m_savedDataHome;
};

void TestPasswordProtection::init()
{
    m_data = std::make_unique<QTemporaryDir>();
    QVERIFY(m_data->isValid());
    m_savedDataHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_data->path()));
}

void TestPasswordProtection::cleanup()
{
    qputenv("XDG_DATA_HOME", m_savedDataHome);
    m_data.reset();
}

void TestPasswordProtection::roundTrip_data()
{
    QTest::addColumn<QString>("password");
    QTest::newRow("ascii") << QStringLiteral("Segreto 123!");
    QTest::newRow("euro sign") << QStringLiteral("pr\u20ACzzo");
    QTest::newRow("surrogate pair") << QString::fromUtf8("a\xF0\x9F\x98\x80z"); // U+1F600
    QTest::newRow("empty") << QString();
}

void TestPasswordProtection::roundTrip()
{
    QFETCH(QString, password);
    tests::MessageBoxWatcher watcher;
    const QString first = protectPassword(password);
    const QString second = protectPassword(password);

    static const QRegularExpression upperHex(QStringLiteral("^([0-9A-F]{2})+$"));
    QVERIFY2(upperHex.match(first).hasMatch(), qPrintable(first));
    QVERIFY(upperHex.match(second).hasMatch());
    QVERIFY(first != second);

    QCOMPARE(unprotectPassword(first), password);
    QCOMPARE(unprotectPassword(second), password);
    QCOMPARE(unprotectPassword(first.toLower()), password);
    QVERIFY(watcher.boxes().isEmpty());
}

void TestPasswordProtection::nulCutsPassword()
{
    const QString withNul = QStringLiteral("abc") + QChar(u'\0') + QStringLiteral("def");
    const QString text = protectPassword(withNul);
    QCOMPARE(unprotectPassword(text), QStringLiteral("abc"));
    QCOMPARE(text.size(), protectPassword(QStringLiteral("abc")).size());
}

// Ways to spoil a valid protected text; the key is made per test, so the rows carry
// the spoiling and the test applies it to a text of its own.
const struct
{
    const char *name;
    QString (*spoil)(const QString &valid);
} spoilers[] = {
    {"empty", [](const QString &) { return QString(); }},
    {"odd length", [](const QString &v) { return v.chopped(1); }},
    {"not hex", [](const QString &v) { return QStringLiteral("G") + v.mid(1); }},
    {"blanks inside", [](const QString &v) { return v.left(10) + QStringLiteral("  ") + v.mid(12); }},
    {"one byte short", [](const QString &v) { return v.chopped(2); }},
    {"one byte more", [](const QString &v) { return v + QStringLiteral("00"); }},
    {"header only", [](const QString &v) { return v.left(66); }},
    {"bit flipped: version", [](const QString &v) { return flipBit(v, 0); }},
    {"bit flipped: key id", [](const QString &v) { return flipBit(v, 3); }},
    {"bit flipped: nonce", [](const QString &v) { return flipBit(v, 20); }},
    {"bit flipped: ciphertext", [](const QString &v) { return flipBit(v, 34); }},
    {"bit flipped: tag", [](const QString &v) { return flipBit(v, -1); }},
};

void TestPasswordProtection::refusedTexts_data()
{
    QTest::addColumn<int>("spoiler");
    for (int i = 0; i < int(std::size(spoilers)); ++i)
        QTest::newRow(spoilers[i].name) << i;
}

void TestPasswordProtection::refusedTexts()
{
    QFETCH(int, spoiler);
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
    tests::MessageBoxWatcher watcher;
    const QString valid = protectPassword(QStringLiteral("password"));
    QCOMPARE(unprotectPassword(valid), QStringLiteral("password"));

    QCOMPARE(unprotectPassword(spoilers[spoiler].spoil(valid)), QString());
    QVERIFY(watcher.boxes().isEmpty());
}

void TestPasswordProtection::anotherUsersKeyIsRefused()
{
    const QString mine = protectPassword(QStringLiteral("mine"));

    QTemporaryDir otherHome;
    qputenv("XDG_DATA_HOME", QFile::encodeName(otherHome.path()));
    QCOMPARE(unprotectPassword(mine), QString()); // no key there at all
    const QString theirs = protectPassword(QStringLiteral("theirs"));
    QCOMPARE(unprotectPassword(mine), QString()); // a key of their own
    QCOMPARE(unprotectPassword(theirs), QStringLiteral("theirs"));

    qputenv("XDG_DATA_HOME", QFile::encodeName(m_data->path()));
    QCOMPARE(unprotectPassword(mine), QStringLiteral("mine"));
    QCOMPARE(unprotectPassword(theirs), QString());
}

void TestPasswordProtection::keyFileIsPrivate()
{
    QVERIFY(!protectPassword(QStringLiteral("x")).isEmpty());
    QCOMPARE(modeOf(keyFolder()), mode_t(0700));
    QCOMPARE(modeOf(keyFile()), mode_t(0600));
    QCOMPARE(QFileInfo(keyFile()).size(), 32);
    // Nothing but the key is left in its folder, and the key stays the same.
    QCOMPARE(QDir(keyFolder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("protection.key")});
    QFile file(keyFile());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray key = file.readAll();
    QVERIFY(!protectPassword(QStringLiteral("y")).isEmpty());
    QVERIFY(file.seek(0));
    QCOMPARE(file.readAll(), key);
}

void TestPasswordProtection::keyFileRules_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("group may read") << "0640";
    QTest::newRow("others may read") << "0604";
    QTest::newRow("another owner") << "owner";
    QTest::newRow("symbolic link") << "link";
    QTest::newRow("folder open to group") << "folder";
}

void TestPasswordProtection::keyFileRules()
{
    QFETCH(QString, change);
    const QString text = protectPassword(QStringLiteral("pw"));
    QVERIFY(!text.isEmpty());
    const QByteArray key = QFile::encodeName(keyFile());
    const QByteArray folder = QFile::encodeName(keyFolder());
    const QByteArray elsewhere = QFile::encodeName(m_data->filePath(QStringLiteral("real.key")));

    if (change == QStringLiteral("0640") || change == QStringLiteral("0604")) {
        QCOMPARE(chmod(key.constData(), change.toUInt(nullptr, 8)), 0);
    } else if (change == QStringLiteral("owner")) {
        if (geteuid() != 0)
            QSKIP("Giving the key file to another owner needs root");
        QCOMPARE(chown(key.constData(), 65534, 65534), 0);
    } else if (change == QStringLiteral("link")) {
        QCOMPARE(rename(key.constData(), elsewhere.constData()), 0);
        QCOMPARE(symlink(elsewhere.constData(), key.constData()), 0);
    } else {
        QCOMPARE(chmod(folder.constData(), 0750), 0);
    }

    tests::MessageBoxWatcher watcher;
    QCOMPARE(unprotectPassword(text), QString());
    QVERIFY(watcher.boxes().isEmpty());

    // Protecting reports the refusal with the system's text and gives nothing.
    QTest::ignoreMessage(QtDebugMsg, std::strerror(EACCES));
    QCOMPARE(protectPassword(QStringLiteral("pw")), QString());
    QCOMPARE(watcher.boxes().size(), 1);
    const tests::ShownBox box = watcher.boxes().first();
    QCOMPARE(box.title, QStringLiteral("My Application"));
    QCOMPARE(box.text, QString::fromLocal8Bit(std::strerror(EACCES)));
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.buttons, QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
    QCOMPARE(box.defaultButton, QMessageBox::Save);

    // Put right again, the same key opens the text: it was the rule that refused it.
    if (change == QStringLiteral("link")) {
        QCOMPARE(unlink(key.constData()), 0);
        QCOMPARE(rename(elsewhere.constData(), key.constData()), 0);
    } else if (change == QStringLiteral("owner")) {
        QCOMPARE(chown(key.constData(), 0, 0), 0);
    } else {
        QCOMPARE(chmod(key.constData(), 0600), 0);
        QCOMPARE(chmod(folder.constData(), 0700), 0);
    }
    QCOMPARE(unprotectPassword(text), QStringLiteral("pw"));
}

void TestPasswordProtection::racingProcessesShareOneKey()
{
    // Threads stand in for processes: each creates the missing key at the same time.
    constexpr int racers = 8;
    std::vector<std::uint8_t> blobs[racers];
    bool ok[racers] = {};
    const std::vector<std::uint8_t> plain{'s', 0, 0, 0};
    {
        std::vector<std::jthread> threads;
        for (int i = 0; i < racers; ++i)
            threads.emplace_back([&, i] {
                std::uint32_t error = 0;
                ok[i] = platform::protectData(plain, blobs[i], error);
            });
    }
    for (int i = 0; i < racers; ++i) {
        QVERIFY(ok[i]);
        std::vector<std::uint8_t> opened;
        QVERIFY(platform::unprotectData(blobs[i], opened));
        QVERIFY(opened == plain);
    }
}

TESSARINO_GUI_TEST_MAIN(TestPasswordProtection)
#include "tst_passwordprotection.moc"
