#pragma once
#include <stdexcept>
#include <string>

namespace mime {

// Failures of the composition toolbox: invalid arguments of the header
// encoder and read errors of attachment streams.
class EMimeException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace mime
