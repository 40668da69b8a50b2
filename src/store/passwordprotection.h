// Turns a password into its protected password text (uppercase hex of a blob that
// only the same OS user can open) and back.
#pragma once

#include <QString>

#include <cstdint>

// The protected text; empty after a failure, which has then been reported.
QString protectPassword(const QString &password);

// The password; empty when the text cannot be opened (nothing is reported).
QString unprotectPassword(const QString &protectedText);

// Shows the system's text for an error code in a critical box.
void reportWindowsError(std::uint32_t code);
