#pragma once

#include <string>

// Builds one native log line inside a single statement; the destructor hands
// the joined text to the native log. Every piece is preceded by one blank.
class DumpLoggerBuilder {
public:
    enum LOG_LEVEL { DEBUG = 1, INFO = 2, WARNING = 3, ERROR = 4 };

    // The level is accepted for readability at the call site; nothing filters by it.
    explicit DumpLoggerBuilder(LOG_LEVEL /*level*/) {}
    ~DumpLoggerBuilder();

    DumpLoggerBuilder(const DumpLoggerBuilder&) = delete;
    DumpLoggerBuilder& operator=(const DumpLoggerBuilder&) = delete;

    DumpLoggerBuilder& operator<<(const char* piece) {
        text.push_back(' ');
        text.append(piece);
        return *this;
    }
    DumpLoggerBuilder& operator<<(const std::string& piece) {
        text.push_back(' ');
        text.append(piece);
        return *this;
    }
    DumpLoggerBuilder& operator<<(int piece) {
        text.push_back(' ');
        text.append(std::to_string(piece));
        return *this;
    }
    DumpLoggerBuilder& nop() { return *this; }

private:
    std::string text;
};

// One log statement: the calling function's name, then the caller's pieces.
#define CORVANE_LOG(level) (DumpLoggerBuilder(DumpLoggerBuilder::level) << __func__).nop()
