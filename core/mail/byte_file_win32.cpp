// File names through the W functions: the ANSI ones would turn every character beyond the code page
// into "?" and name a file that does not exist.
#include "core/mail/byte_file.h"

#include <windows.h>

#include "core/text/wide.h"

namespace tarvel {

ByteFile OpenBytes(const std::string& path) {
    return ByteFile(_wfopen(Widen(path).c_str(), L"rb"));
}

ByteFile CreateBytes(const std::string& path) {
    return ByteFile(_wfopen(Widen(path).c_str(), L"wb"));
}

bool RemoveFile(const std::string& path) {
    return _wremove(Widen(path).c_str()) == 0;
}

} // namespace tarvel
