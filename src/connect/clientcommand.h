// The Remote Desktop client's command line, composed apart from the calls that
// start it so that it can be checked anywhere. Plain C++: the Windows layer uses it.
#pragma once

#include <string>
#include <vector>

namespace clientcommand {

// Windows client parameters: "PATH" /v:HOST:PORT /f (one pair of quotation marks,
// so that both Windows command-line parsers give back the path, spaces included).
std::u16string windowsParameters(const std::u16string &connectionFile,
                                 const std::u16string &host, const std::u16string &port);

// FreeRDP arguments (after the program name): the file, the server, full screen,
// trust on first use, the password read from standard input, and the domain.
std::vector<std::u16string> freerdpArguments(const std::u16string &connectionFile,
                                             const std::u16string &host,
                                             const std::u16string &port,
                                             const std::u16string &domain);

// The text with control characters (U+0000-U+001F, U+007F) removed.
std::u16string withoutControlCharacters(const std::u16string &text);

} // namespace clientcommand
