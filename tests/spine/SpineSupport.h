#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include <sys/types.h>

#include "support/TestSupport.h"

namespace spine {

// Runs `body` in a forked child (which ends with its result); returns the child's pid.
// corvane::test::finishChild() waits for it.
pid_t startChild(const std::function<int()>& body);

// Every "@" in the text (or in the values of the environment) replaced with `scratch`.
std::string at(const std::string& text, const std::string& scratch);
std::map<std::string, std::string> at(const std::map<std::string, std::string>& env, const std::string& scratch);

mode_t currentUmask();
mode_t modeOf(const std::string& path);  // permission bits, 0 when missing
std::vector<std::string> entriesOf(const std::string& directory);  // sorted names

}  // namespace spine
