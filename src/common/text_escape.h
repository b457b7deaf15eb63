// Text quoted from a file or a device, made safe to print: it may hold any bytes.
#pragma once

#include <string>
#include <string_view>

namespace ulmora {

// Printable ASCII and well-formed UTF-8 stay as they are; every other byte becomes "\xNN" (tab, CR and
// LF as "\t", "\r", "\n"), so a terminal or a log never receives control bytes from outside.
std::string EscapeText(std::string_view text);

}  // namespace ulmora
