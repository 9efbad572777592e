// The dial-up steps of a send, as the send flow calls them: the real manager, or a test's own.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace tarvel {

struct Dialler {
    std::function<void()> load;
    // Empty when the send may go on; otherwise the error to show. Blocks until the line is up.
    std::function<std::string(std::string_view entry, std::string_view phone, std::string_view password)>
        dial;
    std::function<std::string(bool askFirst)> hangUp;

    // The process-wide dial-up manager over RASAPI32.DLL.
    static Dialler System();
};

} // namespace tarvel
