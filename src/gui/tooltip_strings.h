// Tooltip texts of the toolbar buttons and the panel's trackbars, looked up by control id.
#pragma once

namespace ulmora {

// The text for id, or null when there is none. Line breaks are '\n'.
const char* TooltipString(int id);

}  // namespace ulmora
