#pragma once
#include "mime/AddressList.h"

#include <string>

namespace smtp {

// The envelope reads address lists and addresses as the header lines do.
using mime::ParseAddress;
using mime::SplitAddressList;
using mime::TMailAddress;

// The name sent with HELO and EHLO: signOn, or the local host name when it
// is empty, with every space turned into "_".
std::string HeloName(const std::string& signOn);

} // namespace smtp
