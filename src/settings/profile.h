// The settings store: a section/key text store in one INI file, saved atomically on every write.
#pragma once

#include <cstddef>
#include <string>

namespace ulmora {

inline constexpr const char* kSectionNocta = "nocta";
inline constexpr const char* kSectionBrisk = "brisk";

// The decimal value of the key's text (optional sign); def when the key is missing.
int ProfileGetInt(const char* section, const char* key, int def);

// Copies at most size - 1 characters of the key's text (or of def) into buffer; returns the count.
size_t ProfileGetString(const char* section, const char* key, const char* def, char* buffer, size_t size);

// Stores the text; false when the file could not be written (logged once per run).
bool ProfileWriteString(const char* section, const char* key, const char* value);

// The file in use: ULMORA_PROFILE, else $XDG_CONFIG_HOME/ulmora/ulmora.ini, else ~/.config/ulmora/ulmora.ini.
std::string ProfilePath();

// Uses another file from now on (empty: back to the default location). Resets the once-per-run state.
void ProfileUsePath(const std::string& path);

// Read-only: writes are dropped (they still succeed).
void ProfileSetReadOnly(bool readOnly);

// Reading is tolerant: a line that is not a [section], key=value, comment or blank line is skipped with
// a warning naming the file and line (and kept, commented, when the file is next saved); a byte order
// mark and CR line ends are accepted. Nothing is ever moved aside.
// True when the file in use gives settings or does not exist; false, with the reason, when it cannot be
// read, is not a regular file, or not one of its lines is a setting.
bool ProfileCheckReadable(std::string* why);

// "path: reason" of the first save that failed since the file was chosen; empty when none did.
std::string ProfileWriteFailure();

// The last value a write stored under section/key while read-only mode dropped it; false when none.
// Tells what the owners of the settings made of the values they read.
bool ProfileDroppedWrite(const char* section, const char* key, std::string* value);

// A value that reads return in place of the file's, for this run only.
void ProfileSetOverride(const char* section, const char* key, const char* value);
void ProfileClearOverrides();

}  // namespace ulmora
