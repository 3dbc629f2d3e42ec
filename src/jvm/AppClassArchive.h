// A trained tree's own classes, served from a class-data archive made for the
// tree where it lies: a per-user file in the cache home, named by a key of the
// tree's place, its jars, its runtime and the option list, and made in the
// background by the first start that finds none. The tree is never written.
#pragma once

#include <string>
#include <vector>

#include "jvm/JvmOptions.h"
#include "jvm/TreeRecord.h"

namespace corvane::jvm {

// <cache home>/corvane/<name>: the cache home is XDG_CACHE_HOME when it is
// absolute, else HOME's ".cache" when HOME is absolute; empty when neither.
std::string appArchiveDir(const std::string& name, const char* xdgCacheHome, const char* home);

// The first option that manages class-data sharing itself (an archive of its
// own, a dump, sharing off), or empty: with one the archive stays out.
std::string classDataOptionOf(const std::vector<OptionEntry>& entries);

// Sixteen hex digits naming `keyText` (64-bit FNV-1a).
std::string appArchiveKey(const std::string& keyText);

// The options of a start that decide what an archive holds and whether the
// VM takes it: every text entry but the per-process file paths.
std::string keyOptionsText(const std::vector<OptionEntry>& entries);

// The dump's arguments: the runtime's java, the start's options without the
// hooks, then a static dump of the trained class list into `output`.
std::vector<std::string> appArchiveDumpArgs(const std::string& java, const std::vector<OptionEntry>& entries,
                                            const std::string& classList, const std::string& output,
                                            bool aotLinking);

// For a tree whose record asks for it ("app-archive=per-user"): adds the archive
// that its package shipped when this start is the one it was made for, else the
// per-user archive made for this start to `entries`, or, when there is none
// yet, starts making it in the
// background. Logs what it does; any problem leaves the options as they are.
void useAppClassArchive(std::vector<OptionEntry>& entries, const std::string& installDir,
                        const std::string& classPath, const TreeRecord& record);

}  // namespace corvane::jvm
