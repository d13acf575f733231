#include "platform/HttpsClient.h"

#include "platform/System.h"
#include "platform/Files.h"
#include "platform/TextUtil.h"

namespace platform {

THttpsReply HttpsPost(const THttpsPost& request)
{
    if (!LowerAscii(request.Url).starts_with("https://"))
        throw EHttpsError(request.Url + ": not an https URL");
    if (!request.CAFile.empty() && !FileExists(request.CAFile))
        throw EHttpsError(request.Url + ": CA file " + request.CAFile + " not found");
    return SystemHttpsPost(request);
}

} // namespace platform
