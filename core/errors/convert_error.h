// The error raised when a port text is neither a service name nor a decimal number.
#pragma once

#include <stdexcept>
#include <string>

namespace tarvel {

class ConvertError : public std::runtime_error {
public:
    explicit ConvertError(const std::string& text)
        : std::runtime_error("'" + text + "' is not a valid integer value") {}
};

} // namespace tarvel
