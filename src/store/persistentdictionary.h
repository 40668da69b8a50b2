// A small key-value store of texts that survives restarts: a SQLite file in the
// profile folder, read through an in-memory cache.
#pragma once

#include "lookup/userenvironment.h"

#include <QMap>
#include <QObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

class PersistentDictionary : public QObject
{
    Q_OBJECT

public:
    PersistentDictionary(UserEnvironment environment, QObject *parent = nullptr);
    ~PersistentDictionary() override;

    // Opens (or creates) the file and preloads up to 200 entries. False leaves the
    // store working from memory (or without preload); callers may ignore it.
    bool Open();

    Q_INVOKABLE QString Get(const QString &key);
    Q_INVOKABLE void Put(const QString &key, const QString &value);
    Q_INVOKABLE void Remove(const QString &key);

private:
    enum class OpenResult { Ready, NoPreload, Failed, Damaged };

    OpenResult openFile();
    void closeDatabase();

    UserEnvironment environment;
    QMap<QString, QString> cache;
    QSqlDatabase database;
    QSqlQuery insertQuery;
    QSqlQuery updateQuery;
    QSqlQuery deleteQuery;
    QSqlQuery selectQuery;
};
