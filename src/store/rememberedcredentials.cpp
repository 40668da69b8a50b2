#include "store/rememberedcredentials.h"

#include "store/persistentdictionary.h"

RememberedCredentials loadRememberedCredentials(PersistentDictionary &) { return {}; }
void saveRememberedCredentials(PersistentDictionary &, const QString &, const QString &,
                               const QString &, const QString &, bool)
{
}
