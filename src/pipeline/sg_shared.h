// Internal to the session: the program-wide texts both sessions share.
#pragma once

#include <atomic>
#include <cstdint>

#include "pipeline/sg.h"

namespace ulmora {

// The capture directory and the name template are one text for both sessions (GUI thread only); each
// session publishes its own name record built from them, so it notes which change it last applied.
char* SharedWorkDir();
char* SharedFormat();
std::atomic<uint32_t>& SharedTextChanges();

inline void SharedTextsChanged(uint32_t& seen) { seen = SharedTextChanges().fetch_add(1) + 1; }

}  // namespace ulmora
