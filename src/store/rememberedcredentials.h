// The credentials remembered between runs, kept in the persistent dictionary under
// "dominio", "utente", "memorizza" and "password".
#pragma once

#include <QString>

class PersistentDictionary;

struct RememberedCredentials
{
    QString dominio;
    QString utente;
    QString memorizza; // "1" when the password is remembered
    QString password;  // plain; read only when memorizza is "1"
};

RememberedCredentials loadRememberedCredentials(PersistentDictionary &store);

// Stores domain, user name and flag; the protected password only when `remember`.
void saveRememberedCredentials(PersistentDictionary &store, const QString &domain,
                               const QString &userName, const QString &rememberFlag,
                               const QString &protectedPassword, bool remember);
