// The application class archive that tools/package ships in a tree, made for the
// place its package installs the tree to, and the record of the start it was made
// for: a start takes it only when it is that start. Nothing here writes the tree.
#pragma once

#include <string>
#include <vector>

#include "jvm/JvmOptions.h"

namespace corvane::jvm {

// What an archive for this start is made for, a line each: the launcher, the
// tree's place, the runtime, the class list and every class-path entry (size
// and modification time; with `identities` device and inode too), the VM's
// option variables and the options of keyOptionsText. Without identities it is
// what the shipped record holds: a package's install keeps sizes and times,
// never inodes.
std::string archiveKeyText(const std::vector<OptionEntry>& entries, const std::string& installDir,
                           const std::string& classPath, const std::string& classList, bool identities);

// Where the shipped record `made` and this start's `now` first differ, as
// "'<line>' at packaging, '<line>' now" (a missing line is "nothing");
// empty when they are the same.
std::string recordDifference(const std::string& made, const std::string& now);

// Adds the shipped archive to `entries` when the tree has one and this start's
// key (archiveKeyText without identities, worked out only then: most trees have
// no record) is the record's; one log line says whether and why. False when the
// start must do without it.
bool useShippedArchive(std::vector<OptionEntry>& entries, const std::string& installDir,
                       const std::string& classPath, const std::string& classList);

}  // namespace corvane::jvm
