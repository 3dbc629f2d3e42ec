// The folder the application starts in, when the tree's record names one
// ("working-dir="), as a start script's cd would set it. Entered before the VM
// exists, because the VM fixes user.dir at creation. Never stops a start.
#pragma once

#include <string>

#include "jvm/TreeRecord.h"

namespace corvane::jvm {

// The record's folder with its leading "${INSTALL_DIR}" or "${HOME}" put in
// place; empty when the record names none, or names HOME and `home` is not an
// absolute path, or the result is not an absolute path.
std::string workingDirFor(const std::string& value, const std::string& installDir, const char* home);

// Enters the folder the tree's record names, with one log line saying which
// folder or why it stays in the one the user started in.
void enterWorkingDir(const std::string& installDir, const TreeRecord& treeRecord);

}  // namespace corvane::jvm
