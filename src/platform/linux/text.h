// Conversions between the seam's UTF-16 texts and the UTF-8 strings of Linux calls.
// The Linux side may use QtCore; only the seam itself stays free of Qt.
#pragma once

#include <QString>

#include <string>

namespace platform {

inline std::u16string fromLocal8Bit(const std::string &text)
{
    return QString::fromLocal8Bit(text).toStdU16String();
}

inline std::string toLocal8Bit(const std::u16string &text)
{
    return QString::fromStdU16String(text).toLocal8Bit().toStdString();
}

} // namespace platform
