#include "platform/CodePages.h"

#include "platform/System.h"

#include <windows.h>

namespace platform {

unsigned ProcessAnsiCodePage()
{
    return GetACP();
}

unsigned SystemOemCodePage()
{
    return GetOEMCP();
}

} // namespace platform
