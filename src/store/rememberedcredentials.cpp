#include "store/rememberedcredentials.h"

#include "store/passwordprotection.h"
#include "store/persistentdictionary.h"

namespace {

const QString dominioKey = QStringLiteral("dominio");
const QString utenteKey = QStringLiteral("utente");
const QString memorizzaKey = QStringLiteral("memorizza");
const QString passwordKey = QStringLiteral("password");

} // namespace

RememberedCredentials loadRememberedCredentials(PersistentDictionary &store)
{
    RememberedCredentials credentials;
    credentials.dominio = store.Get(dominioKey);
    credentials.utente = store.Get(utenteKey);
    credentials.memorizza = store.Get(memorizzaKey);
    // Only the exact "1" ticks the box; otherwise the stored password is not even read.
    if (credentials.memorizza == QLatin1String("1")) {
        credentials.password = store.Get(passwordKey);
        if (!credentials.password.isEmpty())
            credentials.password = unprotectPassword(credentials.password);
    }
    return credentials;
}

void saveRememberedCredentials(PersistentDictionary &store, const QString &domain,
                               const QString &userName, const QString &rememberFlag,
                               const QString &protectedPassword, bool remember)
{
    // Callers trim already; trimming again costs nothing and keeps stray blanks out of the file.
    store.Put(dominioKey, domain.trimmed());
    store.Put(utenteKey, userName.trimmed());
    store.Put(memorizzaKey, rememberFlag);
    // An unticked box leaves an earlier password in place: the empty flag makes it unused.
    if (remember)
        store.Put(passwordKey, protectedPassword);
}
