#include "store/persistentdictionary.h"
#include "support/testmain.h"

#include <QDir>
#include <QFile>
#include <QMetaMethod>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace {

UserEnvironment environmentIn(const QString &folder)
{
    UserEnvironment environment;
    environment.profileFolder = folder;
    return environment;
}

std::unique_ptr<PersistentDictionary> openStore(const QString &folder, bool *opened = nullptr)
{
    auto store = std::make_unique<PersistentDictionary>(environmentIn(folder));
    const bool ok = store->Open();
    if (opened)
        *opened = ok;
    return store;
}

// A second connection of the test's own to the store's file, to look at the rows or
// to change them behind the store's back.
class SideConnection
{
public:
    explicit SideConnection(const QString &path)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.open();
    }
    ~SideConnection()
    {
        QSqlDatabase::database(name, false).close();
        QSqlDatabase::removeDatabase(name);
    }

    bool exec(const QString &statement, const QVariantList &values = {})
    {
        QSqlQuery query(QSqlDatabase::database(name, false));
        query.prepare(statement);
        for (const QVariant &value : values)
            query.addBindValue(value);
        const bool ok = query.exec();
        if (!ok)
            qWarning() << statement << query.lastError().text();
        return ok;
    }

    // The first column of the first row, or an invalid value when there is none.
    QVariant scalar(const QString &statement, const QVariantList &values = {})
    {
        QSqlQuery query(QSqlDatabase::database(name, false));
        query.prepare(statement);
        for (const QVariant &value : values)
            query.addBindValue(value);
        if (query.exec() && query.next())
            return query.value(0);
        return {};
    }

    int rowsFor(const QString &key)
    {
        return scalar(QStringLiteral("select count(*) from perst_dict where pkey=?"), {key}).toInt();
    }

    void setValue(const QString &key, const QString &value)
    {
        QVERIFY(exec(QStringLiteral("update perst_dict set pvalue=? where pkey=?"), {value, key}));
    }

private:
    const QString name = QStringLiteral("side");
};

// Runs a block as an unprivileged user when the tests run as root, who could
// otherwise write into any folder.
class UnprivilegedScope
{
public:
    UnprivilegedScope() : m_switched(geteuid() == 0 && seteuid(65534) == 0) {}
    ~UnprivilegedScope()
    {
        if (m_switched && seteuid(0) != 0)
            std::abort();
    }

private:
    bool m_switched;
};

} // namespace

class TestPersistentDictionary : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void firstOpenCreatesPrivateFileWithTable();
    void answersFromMemoryOnceKnown();
    void restartReadsPreloadedValues();
    void emptyAndNeverStoredValues();
    void preloadsAtMost200Rows();
    void removeDeletesKey();
    void keysDifferingInCaseAreDistinct();
    void unusableFolderGivesMemoryOnly_data();
    void unusableFolderGivesMemoryOnly();
    void damagedFileIsMovedAside_data();
    void damagedFileIsMovedAside();
    void methodsCallableByName();

private:
    QString filePath() const { return m_dir->filePath(QStringLiteral("persistent.dictionary")); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestPersistentDictionary::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestPersistentDictionary::cleanup()
{
    // Every store of a test is gone by now: the connection name must be free again.
    QVERIFY(!QSqlDatabase::contains(QStringLiteral("perst")));
    m_dir.reset();
}

void TestPersistentDictionary::firstOpenCreatesPrivateFileWithTable()
{
    bool opened = false;
    auto store = openStore(m_dir->path(), &opened);
    QVERIFY(opened);
    QVERIFY(QSqlDatabase::contains(QStringLiteral("perst")));
    QCOMPARE(store->Get(QStringLiteral("anything")), QString());

    struct stat info{};
    QCOMPARE(stat(QFile::encodeName(filePath()).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, 0600u);

    SideConnection side(filePath());
    QCOMPARE(side.scalar(QStringLiteral("select sql from sqlite_master where name='perst_dict'")).toString(),
             QStringLiteral("CREATE TABLE perst_dict (pkey TEXT primary key, pvalue TEXT)"));
}

void TestPersistentDictionary::answersFromMemoryOnceKnown()
{
    auto store = openStore(m_dir->path());
    store->Put(QStringLiteral("k"), QStringLiteral("first"));
    store->Put(QStringLiteral("k"), QStringLiteral("second"));

    SideConnection side(filePath());
    QCOMPARE(side.rowsFor(QStringLiteral("k")), 1);
    QCOMPARE(side.scalar(QStringLiteral("select pvalue from perst_dict where pkey='k'")).toString(),
             QStringLiteral("second"));

    // Written by someone else after Open: read from the file once, then from memory.
    QVERIFY(side.exec(QStringLiteral("insert into perst_dict values('late', 'from file')")));
    QCOMPARE(store->Get(QStringLiteral("late")), QStringLiteral("from file"));

    side.setValue(QStringLiteral("k"), QStringLiteral("changed behind"));
    side.setValue(QStringLiteral("late"), QStringLiteral("changed behind"));
    QCOMPARE(store->Get(QStringLiteral("k")), QStringLiteral("second"));
    QCOMPARE(store->Get(QStringLiteral("late")), QStringLiteral("from file"));
}

void TestPersistentDictionary::restartReadsPreloadedValues()
{
    openStore(m_dir->path())->Put(QStringLiteral("k"), QStringLiteral("v"));

    bool opened = false;
    auto store = openStore(m_dir->path(), &opened);
    QVERIFY(opened);
    SideConnection side(filePath());
    side.setValue(QStringLiteral("k"), QStringLiteral("changed behind"));
    QCOMPARE(store->Get(QStringLiteral("k")), QStringLiteral("v"));
}

void TestPersistentDictionary::emptyAndNeverStoredValues()
{
    {
        auto store = openStore(m_dir->path());
        store->Put(QStringLiteral("empty"), QStringLiteral(""));
        store->Put(QStringLiteral("null"), QString());
        QCOMPARE(store->Get(QStringLiteral("never")), QString());
        // The empty answer was remembered; a later write still replaces it.
        store->Put(QStringLiteral("never"), QStringLiteral("now"));
        QCOMPARE(store->Get(QStringLiteral("never")), QStringLiteral("now"));
    }
    auto store = openStore(m_dir->path());
    QCOMPARE(store->Get(QStringLiteral("empty")), QString());
    QCOMPARE(store->Get(QStringLiteral("null")), QString());
    QCOMPARE(store->Get(QStringLiteral("absent")), QString());
    QCOMPARE(store->Get(QStringLiteral("never")), QStringLiteral("now"));
}

void TestPersistentDictionary::preloadsAtMost200Rows()
{
    openStore(m_dir->path()); // creates the file and its table
    constexpr int rows = 300;
    {
        SideConnection side(filePath());
        QVERIFY(side.exec(QStringLiteral("begin")));
        for (int i = 0; i < rows; ++i)
            QVERIFY(side.exec(QStringLiteral("insert into perst_dict values(?, 'stored')"),
                              {QStringLiteral("key%1").arg(i)}));
        QVERIFY(side.exec(QStringLiteral("commit")));
    }

    bool opened = false;
    auto store = openStore(m_dir->path(), &opened);
    QVERIFY(opened);
    SideConnection side(filePath());
    QVERIFY(side.exec(QStringLiteral("update perst_dict set pvalue='read later'")));

    // Preloaded keys answer with what was there at Open; the others come from the file.
    int preloaded = 0, readLater = 0;
    for (int i = 0; i < rows; ++i) {
        const QString value = store->Get(QStringLiteral("key%1").arg(i));
        preloaded += value == QStringLiteral("stored");
        readLater += value == QStringLiteral("read later");
    }
    QCOMPARE(preloaded, 200);
    QCOMPARE(readLater, rows - 200);
}

void TestPersistentDictionary::removeDeletesKey()
{
    {
        auto store = openStore(m_dir->path());
        store->Put(QStringLiteral("gone"), QStringLiteral("v"));
        store->Put(QStringLiteral("kept"), QStringLiteral("w"));
        store->Remove(QStringLiteral("gone"));
        QCOMPARE(store->Get(QStringLiteral("gone")), QString());
    }
    auto store = openStore(m_dir->path());
    QCOMPARE(store->Get(QStringLiteral("gone")), QString());
    QCOMPARE(store->Get(QStringLiteral("kept")), QStringLiteral("w"));
    SideConnection side(filePath());
    QCOMPARE(side.rowsFor(QStringLiteral("gone")), 0);
}

void TestPersistentDictionary::keysDifferingInCaseAreDistinct()
{
    {
        auto store = openStore(m_dir->path());
        store->Put(QStringLiteral("Dominio"), QStringLiteral("upper"));
        store->Put(QStringLiteral("dominio"), QStringLiteral("lower"));
        QCOMPARE(store->Get(QStringLiteral("Dominio")), QStringLiteral("upper"));
    }
    auto store = openStore(m_dir->path());
    QCOMPARE(store->Get(QStringLiteral("Dominio")), QStringLiteral("upper"));
    QCOMPARE(store->Get(QStringLiteral("dominio")), QStringLiteral("lower"));
    QCOMPARE(store->Get(QStringLiteral("DOMINIO")), QString());
}

void TestPersistentDictionary::unusableFolderGivesMemoryOnly_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("missing folder") << "missing";
    QTest::newRow("folder is a file") << "file";
    QTest::newRow("read-only folder") << "read-only";
}

void TestPersistentDictionary::unusableFolderGivesMemoryOnly()
{
    QFETCH(QString, kind);
    const QString folder = m_dir->filePath(QStringLiteral("profile"));
    if (kind == QStringLiteral("file")) {
        QFile file(folder);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else if (kind == QStringLiteral("read-only")) {
        QVERIFY(QDir().mkdir(folder));
        QVERIFY(QFile::setPermissions(m_dir->path(), QFile::ReadOwner | QFile::WriteOwner
                                                         | QFile::ExeOwner | QFile::ExeOther));
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther
                                                  | QFile::ExeOther));
    }

    {
        UnprivilegedScope unprivileged;
        bool opened = true;
        auto store = openStore(folder, &opened);
        QVERIFY(!opened);
        store->Put(QStringLiteral("k"), QStringLiteral("v"));
        QCOMPARE(store->Get(QStringLiteral("k")), QStringLiteral("v"));
    }
    QVERIFY(!QFile::exists(folder + QStringLiteral("/persistent.dictionary")));
    QCOMPARE(openStore(folder)->Get(QStringLiteral("k")), QString());
}

void TestPersistentDictionary::damagedFileIsMovedAside_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: a truncated database

    QTest::newRow("text file") << QByteArray("name=value\n").repeated(100);
    QByteArray noise(4096, '\0');
    for (char &c : noise)
        c = static_cast<char>(QRandomGenerator::global()->bounded(256));
    noise.replace(0, 6, "noise:"); // never the SQLite header by chance
    QTest::newRow("random bytes") << noise;
    QTest::newRow("truncated database") << QByteArray();
}

void TestPersistentDictionary::damagedFileIsMovedAside()
{
    QFETCH(QByteArray, content);
    if (content.isEmpty()) {
        {
            SideConnection side(filePath());
            QVERIFY(side.exec(QStringLiteral("create table perst_dict (pkey TEXT primary key, pvalue TEXT)")));
            QVERIFY(side.exec(QStringLiteral("begin")));
            for (int i = 0; i < 300; ++i)
                QVERIFY(side.exec(QStringLiteral("insert into perst_dict values(?, ?)"),
                                  {QStringLiteral("key%1").arg(i), QString(200, QLatin1Char('v'))}));
            QVERIFY(side.exec(QStringLiteral("commit")));
        }
        QFile file(filePath());
        QVERIFY(file.open(QIODevice::ReadWrite));
        content = file.read(8192);
        QVERIFY(file.resize(8192));
    } else {
        QFile file(filePath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("persistent\\.dictionary.*moved it to.*"
                                                           "persistent\\.dictionary\\.corrupt-")));
    {
        bool opened = false;
        auto store = openStore(m_dir->path(), &opened);
        QVERIFY(opened);
        store->Put(QStringLiteral("k"), QStringLiteral("v"));
    }
    QCOMPARE(openStore(m_dir->path())->Get(QStringLiteral("k")), QStringLiteral("v"));

    const QStringList aside =
        QDir(m_dir->path()).entryList({QStringLiteral("persistent.dictionary.corrupt-*")}, QDir::Files);
    QCOMPARE(aside.size(), 1);
    QFile moved(m_dir->filePath(aside.first()));
    QVERIFY(moved.open(QIODevice::ReadOnly));
    QCOMPARE(moved.readAll(), content);
}

void TestPersistentDictionary::methodsCallableByName()
{
    auto store = openStore(m_dir->path());
    const QMetaObject *meta = store->metaObject();
    QCOMPARE(meta->className(), "PersistentDictionary");
    QCOMPARE(store->qt_metacast("PersistentDictionary"), static_cast<void *>(store.get()));
    QCOMPARE(meta->methodCount() - meta->methodOffset(), 3);

    const struct
    {
        const char *signature;
        const char *parameters;
        QMetaType::Type returnType;
    } expected[] = {
        {"Get(QString)", "key", QMetaType::QString},
        {"Put(QString,QString)", "key,value", QMetaType::Void},
        {"Remove(QString)", "key", QMetaType::Void},
    };
    for (int i = 0; i < 3; ++i) {
        const QMetaMethod method = meta->method(meta->methodOffset() + i);
        QCOMPARE(method.methodSignature(), QByteArray(expected[i].signature));
        QCOMPARE(method.parameterNames().join(','), QByteArray(expected[i].parameters));
        QCOMPARE(method.returnType(), int(expected[i].returnType));
        QCOMPARE(method.access(), QMetaMethod::Public);
    }

    QVERIFY(QMetaObject::invokeMethod(store.get(), "Put", Q_ARG(QString, QStringLiteral("k")),
                                      Q_ARG(QString, QStringLiteral("v"))));
    QString value;
    QVERIFY(QMetaObject::invokeMethod(store.get(), "Get", Q_RETURN_ARG(QString, value),
                                      Q_ARG(QString, QStringLiteral("k"))));
    QCOMPARE(value, QStringLiteral("v"));
    QVERIFY(QMetaObject::invokeMethod(store.get(), "Remove", Q_ARG(QString, QStringLiteral("k"))));
    QCOMPARE(store->Get(QStringLiteral("k")), QString());
}

TESSARINO_TEST_MAIN(TestPersistentDictionary)
#include "tst_persistentdictionary.moc"
