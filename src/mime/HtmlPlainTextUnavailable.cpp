#include "mime/HtmlPlainText.h"

namespace mime {

bool HtmlToPlainTextAvailable()
{
    return false;
}

std::vector<std::string> HtmlToPlainText(const std::vector<std::string>&, std::uint32_t)
{
    return {};
}

} // namespace mime
