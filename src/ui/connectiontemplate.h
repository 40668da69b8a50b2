// The connection template "default.rdp" shipped next to the program, read once when
// the main window is built.
#pragma once

#include <QString>

// The template's path in the application folder, with native separators.
QString connectionTemplatePath();

// The whole text of the file at `path`: decoded with the system's 8-bit encoding
// unless a byte-order mark names a Unicode one, line breaks kept as they are (CR LF
// stays CR LF). A file that cannot be read gives an empty text.
QString readConnectionTemplate(const QString &path);
