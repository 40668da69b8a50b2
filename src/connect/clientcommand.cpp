#include "connect/clientcommand.h"

#include <algorithm>

namespace clientcommand {

std::u16string windowsParameters(const std::u16string &connectionFile,
                                 const std::u16string &host, const std::u16string &port)
{
    return u"\"" + connectionFile + u"\" /v:" + host + u":" + port + u" /f";
}

std::vector<std::u16string> freerdpArguments(const std::u16string &connectionFile,
                                             const std::u16string &host,
                                             const std::u16string &port,
                                             const std::u16string &domain)
{
    return {
        connectionFile,
        u"/v:" + host + u":" + port,
        u"/f",
        u"/cert:tofu",
        u"/from-stdin:force",
        u"/d:" + withoutControlCharacters(domain),
    };
}

std::u16string withoutControlCharacters(const std::u16string &text)
{
    std::u16string out = text;
    std::erase_if(out, [](char16_t c) { return c < 0x20 || c == 0x7F; });
    return out;
}

} // namespace clientcommand
