#include "store/persistentdictionary.h"

PersistentDictionary::PersistentDictionary(UserEnvironment environment, QObject *parent)
    : QObject(parent), environment(std::move(environment))
{
}
PersistentDictionary::~PersistentDictionary() = default;
bool PersistentDictionary::Open() { return false; }
QString PersistentDictionary::Get(const QString &key) { return cache.value(key); }
void PersistentDictionary::Put(const QString &key, const QString &value) { cache.insert(key, value); }
void PersistentDictionary::Remove(const QString &key) { cache.remove(key); }
