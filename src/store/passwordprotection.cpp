#include "store/passwordprotection.h"

QString protectPassword(const QString &) { return {}; }
QString unprotectPassword(const QString &) { return {}; }
void reportWindowsError(std::uint32_t) {}
