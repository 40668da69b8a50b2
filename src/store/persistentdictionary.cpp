#include "store/persistentdictionary.h"

#include "store/storelog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSqlError>
#include <QVariant>

namespace {

const QString connectionName = QStringLiteral("perst");
const QString fileName = QStringLiteral("persistent.dictionary");

const QString createStatement =
    QStringLiteral("create table IF NOT EXISTS perst_dict (pkey TEXT primary key, pvalue TEXT)");
const QString insertStatement =
    QStringLiteral("insert into perst_dict (pkey, pvalue) values(:pkey, :pvalue)");
const QString updateStatement = QStringLiteral("update perst_dict set pvalue=:pvalue where pkey=:pkey");
const QString deleteStatement = QStringLiteral("delete from perst_dict where pkey=:pkey");
const QString selectStatement = QStringLiteral("select pvalue from perst_dict where pkey=:pkey");
const QString preloadStatement = QStringLiteral("select pkey, pvalue from perst_dict limit 200");

// A statement bound to no connection: every execution fails. Built from a null result
// so that it never falls back to Qt's default connection.
QSqlQuery inertQuery()
{
    return QSqlQuery(static_cast<QSqlResult *>(nullptr));
}

// SQLite's answers for a file that is not a database or whose pages are broken
// (SQLITE_CORRUPT, SQLITE_NOTADB; extended codes keep the primary code in the low byte).
bool isDamaged(const QSqlError &error)
{
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok) & 0xff;
    return ok && (code == 11 || code == 26);
}

// Creates the file empty and readable by its owner only, before SQLite opens it;
// SQLite gives its journal files the same mode. An existing file is left alone.
void createPrivateFile(const QString &path)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                  QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        file.close();
}

// Renames a damaged database, and any journal SQLite left next to it, out of the way;
// nothing is deleted. False when the file could not be moved.
bool moveAside(const QString &path)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = path + QStringLiteral(".corrupt-") + stamp;
    for (int n = 2; QFile::exists(aside); ++n)
        aside = path + QStringLiteral(".corrupt-") + stamp + QLatin1Char('-') + QString::number(n);

    if (!QFile::rename(path, aside)) {
        qCWarning(lcStore) << "The store" << path
                           << "is not a usable database and could not be moved aside";
        return false;
    }
    // A journal left by the damaged file must not be played back into the new one.
    for (const auto suffix : {QLatin1String("-journal"), QLatin1String("-wal"), QLatin1String("-shm")}) {
        if (QFile::exists(path + suffix))
            QFile::rename(path + suffix, aside + suffix);
    }
    qCWarning(lcStore) << "The store" << path << "is not a usable database; moved it to" << aside
                       << "and started a new one";
    return true;
}

} // namespace

PersistentDictionary::PersistentDictionary(UserEnvironment environment, QObject *parent)
    : QObject(parent),
      environment(std::move(environment)),
      insertQuery(inertQuery()),
      updateQuery(inertQuery()),
      deleteQuery(inertQuery()),
      selectQuery(inertQuery())
{
    database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
}

PersistentDictionary::~PersistentDictionary()
{
    // Another store made later may have taken over the name; Qt then cleared ours.
    const QString name = database.connectionName();
    closeDatabase();
    database = QSqlDatabase();
    // Removing the connection lets a new store be made later in this process.
    if (!name.isEmpty())
        QSqlDatabase::removeDatabase(name);
}

bool PersistentDictionary::Open()
{
    const QString path =
        QDir::toNativeSeparators(environment.profileFolder + QDir::separator() + fileName);
    database.setDatabaseName(path);
    createPrivateFile(path);

    const QMap<QString, QString> written = cache;
    OpenResult result = openFile();
    if (result == OpenResult::Damaged) {
        closeDatabase();
        if (moveAside(path)) {
            cache = written; // nothing read from the damaged file stays
            createPrivateFile(path);
            result = openFile();
        }
    }
    return result == OpenResult::Ready;
}

PersistentDictionary::OpenResult PersistentDictionary::openFile()
{
    if (!database.open())
        return OpenResult::Failed;

    QSqlQuery create(database);
    if (!create.exec(createStatement))
        return isDamaged(create.lastError()) ? OpenResult::Damaged : OpenResult::Failed;

    const std::pair<QSqlQuery *, const QString *> statements[] = {
        {&insertQuery, &insertStatement},
        {&updateQuery, &updateStatement},
        {&deleteQuery, &deleteStatement},
        {&selectQuery, &selectStatement},
    };
    for (const auto &[query, text] : statements) {
        *query = QSqlQuery(database);
        query->prepare(*text);
    }

    QSqlQuery preload(database);
    if (!preload.exec(preloadStatement))
        return isDamaged(preload.lastError()) ? OpenResult::Damaged : OpenResult::NoPreload;
    while (preload.next())
        cache.insert(preload.value(0).toString(), preload.value(1).toString());
    if (isDamaged(preload.lastError()))
        return OpenResult::Damaged;
    return OpenResult::Ready;
}

void PersistentDictionary::closeDatabase()
{
    if (database.isValid())
        database.close();
    insertQuery = inertQuery();
    updateQuery = inertQuery();
    deleteQuery = inertQuery();
    selectQuery = inertQuery();
}

QString PersistentDictionary::Get(const QString &key)
{
    const auto cached = cache.constFind(key);
    if (cached != cache.constEnd())
        return cached.value();

    QString value;
    selectQuery.bindValue(QStringLiteral(":pkey"), key);
    if (selectQuery.exec() && selectQuery.next())
        value = selectQuery.value(0).toString();
    selectQuery.finish();
    // An absent key is remembered too, so the next read stays in memory.
    cache.insert(key, value);
    return value;
}

void PersistentDictionary::Put(const QString &key, const QString &value)
{
    cache.insert(key, value);

    selectQuery.bindValue(QStringLiteral(":pkey"), key);
    if (!selectQuery.exec())
        return;
    const bool stored = selectQuery.next();
    // A statement left on a row would hold the read open and delay the commit of the write.
    selectQuery.finish();

    QSqlQuery &write = stored ? updateQuery : insertQuery;
    write.bindValue(QStringLiteral(":pkey"), key);
    write.bindValue(QStringLiteral(":pvalue"), value);
    write.exec();
}

void PersistentDictionary::Remove(const QString &key)
{
    cache.remove(key);
    deleteQuery.bindValue(QStringLiteral(":pkey"), key);
    deleteQuery.exec();
}
