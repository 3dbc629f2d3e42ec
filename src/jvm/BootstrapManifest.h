#pragma once

#include <istream>
#include <string>

namespace corvane::jvm {

extern const char* const CLASSPATH_SEPARATOR;           // ":" between class path entries
extern const char* const CLASSPATH_SEPARATOR_FOR_LOGS;  // "\n" in the class path's log form

// Why a path with CLASSPATH_SEPARATOR in it cannot go into a class path.
std::string separatorInPathReason();

// Removes trailing carriage returns, line feeds, blanks and tabs in place.
void trimTrailingWhitespace(std::string& line);

// `subject` with every occurrence of `from` replaced by `to`, left to right;
// replacement text is never searched again.
std::string string_replace(std::string subject, const std::string& from, const std::string& to);

// What reading a bootstrap manifest gave: a class path, or the exit status and
// message of the failure (51: manifest not readable; 52: an entry missing,
// not checkable, or holding the class path separator).
struct ManifestResult {
    int status = 0;
    std::string classPath;
    std::string message;
};

// Reads manifest lines from `in`, resolving each entry against `libDir`.
ManifestResult readManifestEntries(std::istream& in, const std::string& libDir);

// Opens and reads the manifest at `manifestPath`.
ManifestResult readBootstrapManifest(const std::string& manifestPath, const std::string& libDir);

// The class path string from the manifest; ends the process with status 51 or
// 52 (and the reason in the log) when the manifest or an entry is unusable.
std::string collectJarsFromManifest(const std::string& manifestPath, const std::string& libDir);

}  // namespace corvane::jvm
