// Where the "Web" entries of the Help menu lead.
#pragma once

namespace ulmora {

inline constexpr const char* kContactMail = "ulmora@teskor.example";
inline constexpr const char* kProductPage = "https://teskor.example/ulmora/";
inline constexpr const char* kMakerSite = "https://teskor.example/";
inline constexpr const char* kHelpFileName = "nocta.html";

}  // namespace ulmora
