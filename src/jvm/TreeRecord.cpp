#include "jvm/TreeRecord.h"

#include <algorithm>
#include <sstream>
#include <vector>

#include "Contract.h"
#include "os/OSHelper.h"

namespace corvane::jvm {

namespace {

// Every key the launcher reads, and what its value sets: one table.
struct Key {
    const char* key;
    void (*take)(TreeRecord& record, const std::string& value);
};

constexpr Key KEYS[] = {
    {"name", [](TreeRecord& r, const std::string& v) { r.name = v; }},
    {"runtime-version", [](TreeRecord& r, const std::string& v) { r.runtimeVersion = v; }},
    {"training-list", [](TreeRecord& r, const std::string& v) { r.trainingList = v; }},
    {"splash", [](TreeRecord& r, const std::string& v) { r.splash = v; }},
    {"working-dir", [](TreeRecord& r, const std::string& v) { r.workingDir = v; }},
    {"single-instance",
     [](TreeRecord& r, const std::string& v) { r.singleInstance = v == "yes" || v == "raise"; }},
    {"app-archive", [](TreeRecord& r, const std::string& v) { r.appArchivePerUser = v == "per-user"; }},
    {"heap", [](TreeRecord& r, const std::string& v) { r.javaHeap = v == "java"; }},
};

}  // namespace

const char* const TREE_RECORD_FILE = CONTRACT_RECORD_FILE;

std::vector<std::string> treeRecordKeys() {
    std::vector<std::string> keys;
    for (const Key& known : KEYS) {
        keys.emplace_back(known.key);
    }
    return keys;
}

bool TreeRecord::hasApplicationName() const {
    return isApplicationName(name);
}

int TreeRecord::runtimeFeature() const {
    constexpr int LARGEST = 9999;  // no runtime has more; a longer run of digits is no version
    int feature = 0;
    for (const char c : runtimeVersion) {
        if (c < '0' || c > '9') {
            break;
        }
        feature = feature * 10 + (c - '0');
        if (feature > LARGEST) {
            return 0;
        }
    }
    return feature;
}

TreeRecord parseTreeRecord(const std::string& text) {
    TreeRecord record;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const std::size_t equals = line.find('=');
        if (line.empty() || line[0] == '#' || equals == std::string::npos) {
            continue;
        }
        const std::string key = line.substr(0, equals);
        for (const Key& known : KEYS) {
            if (key == known.key) {
                known.take(record, line.substr(equals + 1));
            }
        }
    }
    return record;
}

TreeRecord readTreeRecord(const std::string& installDir) {
    if (installDir.empty()) {
        return TreeRecord();
    }
    const std::string path = installDir + "/lib/" + TREE_RECORD_FILE;
    const OS::FileText file = OS::readRegularFile(path);
    TreeRecord record = file.outcome == OS::FileText::READ ? parseTreeRecord(file.text) : TreeRecord();
    record.path = path;
    record.source = file.outcome == OS::FileText::READ      ? TreeRecord::Source::READ
                    : file.outcome == OS::FileText::REFUSED ? TreeRecord::Source::REFUSED
                                                            : TreeRecord::Source::ABSENT;
    record.problem = file.problem;
    return record;
}

bool isApplicationName(const std::string& name) {
    auto letterOrDigit = [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); };
    if (name.size() < 2 || !letterOrDigit(name[0])) {
        return false;
    }
    return std::all_of(name.begin(), name.end(),
                       [&](char c) { return letterOrDigit(c) || c == '+' || c == '-' || c == '.'; });
}

}  // namespace corvane::jvm
