// The JVM options files of one start, read once and never waiting on what lies at
// their paths: the tree's (lib/jvm-options.txt), the system's and the user's (named
// by the record's application name), and the --jvm-args= file. The splash and the
// VM's option list both take their lines from here.
#pragma once

#include <string>
#include <vector>

#include "jvm/TreeRecord.h"
#include "log/DumpLoggerBuilder.h"

namespace corvane::jvm {

struct OptionFile {
    std::string path;         // "" when the start has no such file
    std::string description;  // "the user's jvm options file <path>", for messages
    std::vector<std::string> lines;
    bool present = false;     // something is at the path
    bool refused = false;     // there, but no regular file that could be read
};

struct OptionFiles {
    // In the order the option list takes them: of an option given twice the later wins.
    OptionFile tree;
    OptionFile system;
    OptionFile user;
    OptionFile jvmArgs;
    // What reading them found, logged when the VM's options are assembled: a
    // start that never gets that far (no runtime) has no lines about them.
    struct Note {
        DumpLoggerBuilder::LOG_LEVEL level;
        std::string text;
    };
    std::vector<Note> notes;

    // The tree's file or the --jvm-args= file is there but cannot be read: the
    // packager's or the caller's options may be essential, so the start stops.
    bool stopsTheStart() const;
    // The last -Djava.awt.headless= of all of them says "true".
    bool asksForHeadless() const;
};

// Reads every file, with one note for each that is used or passed over (the
// --jvm-args= file's refusal is the VM start's to report). The system's or the
// user's file at `ignoredPath` is left out: the runtime refused a line of it.
OptionFiles readOptionFiles(const std::string& installDir, const TreeRecord& record, const std::string& jvmArgsPath,
                            const std::string& ignoredPath = std::string());

// A line of the system's or the user's file that the runtime refused, as its
// refusal message quotes it ("Unrecognized VM option 'X'", "Unrecognized option: -x",
// "Improperly specified VM option 'X=y'"); `file` is null when no such line is named.
struct RefusedLine {
    const OptionFile* file = nullptr;
    std::string line;
};
RefusedLine findRefusedOwnLine(const OptionFiles& files, const std::string& vmOutput);

// Logs the notes of the reading, one line each.
void logOptionFileNotes(const OptionFiles& files);

}  // namespace corvane::jvm
