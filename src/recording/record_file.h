// Files of a recording: written under a temporary name and given their own only when whole, never over
// a file that is there.
#pragma once

#include <cstdint>
#include <string>

namespace ulmora {

// "dir/name.ser" -> {"dir/name", ".ser"} (the extension as given, with its dot; empty when none).
void SplitExtension(const std::string& path, std::string& stem, std::string& ext);

// The first of PATH, STEM-2.EXT, STEM-3.EXT ... (from `first`: 1 = PATH) that no file takes, and its
// number in `used`.
std::string FreeNumberedName(const std::string& path, int first, int* used);

// The name a file is written under until it is whole: "PATH.part" beside it.
std::string PartName(const std::string& path);

// Gives the whole file `part` the name `path`, or the next free numbered name when it has been taken
// meanwhile; `path` is updated to the name used. 0 or an errno.
int PublishPart(const std::string& part, std::string& path);

// "cannot write 'PATH': REASON" for a person.
std::string WriteFailure(const std::string& path, int err);

// The folder of `path` exists and a file can be made in it; else an errno with `error` set.
int CheckFolderWritable(const std::string& path, std::string& error);

}  // namespace ulmora
