// File names are bytes here: the UTF-8 path is the name.
#include "core/mail/byte_file.h"

namespace tarvel {

ByteFile OpenBytes(const std::string& path) {
    return ByteFile(std::fopen(path.c_str(), "rb"));
}

ByteFile CreateBytes(const std::string& path) {
    return ByteFile(std::fopen(path.c_str(), "wb"));
}

bool RemoveFile(const std::string& path) {
    return std::remove(path.c_str()) == 0;
}

} // namespace tarvel
