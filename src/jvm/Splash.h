// The splash screen java shows before its VM exists, shown the same way: through
// the tree's runtime's libsplashscreen, loaded into the launcher before the VM is
// created. It never stops a start: whatever is missing is one log line, no splash.
#pragma once

#include <string>

#include "jvm/OptionFiles.h"
#include "jvm/TreeRecord.h"

namespace corvane::jvm {

// Shows the image the tree's record names ("splash=<path below the tree>") as
// `java -splash:<image>` does, with the runtime's jre/lib/libsplashscreen.so,
// which the VM's AWT loads again later and so finds the splash shown here.
// Does nothing, and logs nothing, without the key; else logs one line. As java
// shows none when headless, options that ask for it show none either.
void showSplash(const std::string& installDir, const TreeRecord& treeRecord, const OptionFiles& optionFiles);

}  // namespace corvane::jvm
