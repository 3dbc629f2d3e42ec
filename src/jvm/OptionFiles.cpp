#include "jvm/OptionFiles.h"

#include <cstdlib>
#include <sstream>

#include "jvm/JvmOptions.h"
#include "os/OSHelper.h"

namespace corvane::jvm {

namespace {

// The file's lines with the install directory in place of its token; `refused`
// when something is there that is no readable regular file.
OptionFile readLines(const std::string& whose, const std::string& path, const std::string& installDir,
                     std::string& problem) {
    OptionFile file;
    file.path = path;
    file.description = "the " + whose + " jvm options file " + path;
    const OS::FileText text = OS::readRegularFile(path);
    file.present = text.outcome != OS::FileText::ABSENT;
    if (text.outcome == OS::FileText::REFUSED) {
        file.refused = true;
        problem = text.problem;
    } else if (text.outcome == OS::FileText::READ) {
        std::istringstream in(text.text);
        file.lines = readJvmArgsLines(in);
        expandInstallDir(file.lines, installDir);
    }
    return file;
}

std::string optionCount(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " option" : " options");
}

// The tree's own file: the packager's options for every start.
OptionFile readTreeFile(const std::string& installDir, std::vector<OptionFiles::Note>& notes) {
    std::string problem;
    OptionFile file = readLines("tree's", libDirFor(installDir) + TREE_JVM_OPTIONS_FILE, installDir, problem);
    if (file.refused) {
        notes.push_back({DumpLoggerBuilder::ERROR,
                         "Unable to open the tree's jvm options file:  " + file.path + " (" + problem + ")"});
    } else if (file.present) {
        notes.push_back({DumpLoggerBuilder::INFO, "Using the tree's jvm options file:  " + file.path});
    }
    return file;
}

// The system's or the user's file: the machine's or the user's own, which
// leaves the start as it would be without it when it is absent or unreadable.
OptionFile readOwnFile(const std::string& whose, const std::string& path, const std::string& installDir,
                       const std::string& ignoredPath, std::vector<OptionFiles::Note>& notes) {
    std::string problem;
    OptionFile file = readLines(whose, path, installDir, problem);
    if (file.present && path == ignoredPath) {
        notes.push_back({DumpLoggerBuilder::WARNING, "Leaving out " + file.description +
                                                         ": the runtime refused a line of it at this start's first attempt"});
        file.lines.clear();
        file.refused = false;
    } else if (file.refused) {
        notes.push_back({DumpLoggerBuilder::WARNING, "Skipping " + file.description + ": " + problem});
        file.refused = false;
    } else if (!file.present) {
        notes.push_back({DumpLoggerBuilder::DEBUG, "The " + whose + " jvm options file " + path + " does not exist"});
    } else {
        notes.push_back({DumpLoggerBuilder::INFO, "Using " + file.description + ": " + optionCount(file.lines.size())});
    }
    return file;
}

// The application's name, or empty with the reason logged: then no system or
// user file is read.
std::string applicationNameOf(const TreeRecord& record, std::vector<OptionFiles::Note>& notes) {
    const std::string skipped = "; the system's and the user's jvm options files are not read";
    if (record.source == TreeRecord::Source::ABSENT) {
        notes.push_back({DumpLoggerBuilder::INFO, "No application name: the tree has no " + record.path + skipped});
        return std::string();
    }
    if (record.source == TreeRecord::Source::REFUSED) {
        notes.push_back({DumpLoggerBuilder::WARNING,
                         "No application name: cannot read " + record.path + ": " + record.problem + skipped});
        return std::string();
    }
    if (!record.hasApplicationName()) {
        notes.push_back({DumpLoggerBuilder::INFO, "No application name: " + record.path +
                                                      " has no valid name line (name=" + record.name + ")" + skipped});
        return std::string();
    }
    return record.name;
}

}  // namespace

bool OptionFiles::stopsTheStart() const {
    return tree.refused || jvmArgs.refused;
}

bool OptionFiles::asksForHeadless() const {
    const std::string option = "-Djava.awt.headless=";
    bool headless = false;
    for (const OptionFile* file : {&tree, &system, &user, &jvmArgs}) {
        for (const std::string& line : file->lines) {
            if (line.compare(0, option.size(), option) == 0) {
                headless = line == option + "true";
            }
        }
    }
    return headless;
}

OptionFiles readOptionFiles(const std::string& installDir, const TreeRecord& record, const std::string& jvmArgsPath,
                            const std::string& ignoredPath) {
    OptionFiles files;
    if (!jvmArgsPath.empty()) {
        std::string problem;
        files.jvmArgs = readLines("", jvmArgsPath, installDir, problem);
        files.jvmArgs.description = "the jvm args file " + jvmArgsPath;
        // A --jvm-args= file that is not there cannot be opened either.
        files.jvmArgs.refused = files.jvmArgs.refused || !files.jvmArgs.present;
        if (files.jvmArgs.refused) {
            files.jvmArgs.lines.clear();
            return files;
        }
    }
    files.tree = readTreeFile(installDir, files.notes);
    if (files.tree.refused) {
        return files;
    }
    const std::string name = applicationNameOf(record, files.notes);
    if (name.empty()) {
        return files;
    }
    files.system = readOwnFile("system's", systemJvmOptionsPath(name), installDir, ignoredPath, files.notes);
    const std::string userPath = userJvmOptionsPath(name, std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
    if (userPath.empty()) {
        files.notes.push_back(
            {DumpLoggerBuilder::DEBUG, "No user jvm options file: neither XDG_CONFIG_HOME nor HOME is an absolute path"});
        return files;
    }
    files.user = readOwnFile("user's", userPath, installDir, ignoredPath, files.notes);
    return files;
}

namespace {

// Whether the VM's refusal text names `line`: whole, or as HotSpot quotes an
// -XX option (its name, with "=value" when it has one, in single quotes).
bool namedIn(const std::string& vmOutput, const std::string& line) {
    if (line.empty()) {
        return false;
    }
    if (vmOutput.find("option: " + line) != std::string::npos || vmOutput.find("'" + line + "'") != std::string::npos) {
        return true;
    }
    const std::string xx = "-XX:";
    if (line.compare(0, xx.size(), xx) != 0) {
        return false;
    }
    std::string setting = line.substr(xx.size());
    if (!setting.empty() && (setting[0] == '+' || setting[0] == '-')) {
        setting.erase(0, 1);
    }
    const std::string name = setting.substr(0, setting.find('='));
    return vmOutput.find("'" + setting + "'") != std::string::npos ||
           vmOutput.find("'" + name + "'") != std::string::npos;
}

}  // namespace

RefusedLine findRefusedOwnLine(const OptionFiles& files, const std::string& vmOutput) {
    for (const OptionFile* file : {&files.user, &files.system}) {
        for (const std::string& line : file->lines) {
            if (namedIn(vmOutput, line)) {
                return {file, line};
            }
        }
    }
    return {};
}

void logOptionFileNotes(const OptionFiles& files) {
    for (const OptionFiles::Note& note : files.notes) {
        DumpLoggerBuilder(note.level) << "readOptionFiles" << note.text;
    }
}

}  // namespace corvane::jvm
