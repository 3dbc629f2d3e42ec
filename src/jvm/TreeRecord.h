// The tree's record, lib/corvane-tree.txt, as the launcher reads it: once per start,
// into typed values that the instance check, the splash, the working folder, the
// options and the application archive receive. The shipping tools write the file;
// the launcher only reads it, and never stops a start over it.
#pragma once

#include <string>
#include <vector>

namespace corvane::jvm {

extern const char* const TREE_RECORD_FILE;

struct TreeRecord {
    enum class Source { ABSENT, REFUSED, READ };
    Source source = Source::ABSENT;
    std::string path;     // the file below the install directory ("" without one)
    std::string problem;  // REFUSED: why, as the system says it
    // The values of the keys the launcher reads, the last line of each key
    // winning; empty or false when the key is absent.
    std::string name;            // "name=": names the options files, the instance and the cache folder
    std::string runtimeVersion;  // "runtime-version="
    std::string trainingList;    // "training-list=": below the tree
    std::string splash;          // "splash=": below the tree
    std::string workingDir;      // "working-dir="
    bool singleInstance = false;     // "single-instance=yes" or "raise" (the instance raises its window)
    bool appArchivePerUser = false;  // "app-archive=per-user"
    bool javaHeap = false;           // "heap=java"

    // The name is one that assemble-tree makes, so that it can name a folder.
    bool hasApplicationName() const;
    // The number the runtime's version begins with (25 for "25.0.3"); 0 when
    // the record gives none.
    int runtimeFeature() const;
};

// The keys the launcher reads, in its table's order.
std::vector<std::string> treeRecordKeys();

// The record of `text`: lines of "key=value"; a line starting with '#', a key
// the launcher does not read and a line without '=' are passed over.
TreeRecord parseTreeRecord(const std::string& text);

// The record below `installDir`, read without waiting (a FIFO or a device in
// its place is refused); ABSENT when the directory is unknown.
TreeRecord readTreeRecord(const std::string& installDir);

// A name as assemble-tree makes it: lower case letters, digits, '+', '-' and
// '.', the first a letter or a digit, two characters or more. Such a name is
// one folder's name, never "." or "..".
bool isApplicationName(const std::string& name);

}  // namespace corvane::jvm
