// Short English texts for WinSock error numbers, as shown in socket reports and status lines.
#pragma once

#include <string>

namespace tarvel {

std::string WinSockErrorText(int error);

} // namespace tarvel
