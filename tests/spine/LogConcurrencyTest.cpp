// Many writers at once: threads of one process, and two processes sharing one log. Every line
// must arrive exactly once and whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <cstdlib>
#include <set>
#include <thread>

#include <unistd.h>

#include "SpineSupport.h"
#include "log/DumbLogger.h"
#include "log/DumpLoggerBuilder.h"

using corvane::test::ScratchDir;

namespace {

// Mostly short lines, every 50th far longer than any stdio or pipe buffer.
std::string payload(int thread, int line) {
    const std::size_t length = line % 50 == 0 ? 9000 + static_cast<std::size_t>(thread) : (line * 7 + thread) % 300;
    return std::string(length, static_cast<char>('a' + (thread * 31 + line) % 26));
}

std::atomic<int> started{0};

void logLines(int thread, int threads, int lines) {
    ++started;
    while (started.load() < threads) {
        std::this_thread::yield();
    }
    for (int i = 0; i < lines; ++i) {
        CORVANE_LOG(INFO) << "worker" << thread << i << payload(thread, i);
    }
}

// Child body: set up logging in `dir`, wait for the gate pipe to close, log from `threads` threads.
int logFromThreads(const std::string& dir, int gate, int threads, int lines) {
    ::setenv("CORVANE_NATIVE_LOG_DIR_OVERRIDE", dir.c_str(), 1);
    initialize_logging(false);
    char ignored;
    if (gate >= 0 && ::read(gate, &ignored, 1) != 0) {
        return 92;
    }
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back(logLines, t, threads, lines);
    }
    for (std::thread& w : workers) {
        w.join();
    }
    return 0;
}

// Checks the whole file: only banners and well-formed worker lines, each (pid, thread, line) once.
void expectEveryLineOnceAndWhole(const std::string& text, const std::set<long>& pids, int threads, int lines) {
    ASSERT_EQ(text.back(), '\n') << "the file ends inside a line";
    std::map<std::string, int> expected;  // "<pid> <message>" -> times still to see
    for (const long pid : pids) {
        for (int t = 0; t < threads; ++t) {
            for (int i = 0; i < lines; ++i) {
                expected[std::to_string(pid) + " logLines worker " + std::to_string(t) + " " + std::to_string(i) +
                         " " + payload(t, i)] = 1;
            }
        }
    }
    std::size_t bannerLines = 0;
    std::vector<std::string> bad;
    for (const std::string& line : corvane::test::splitLines(text)) {
        if (line.empty() || line == std::string(42, '=') || line == "Logger initialized") {
            ++bannerLines;
            continue;
        }
        const auto parsed = corvane::test::parseLogLine(line);
        const auto found = parsed ? expected.find(std::to_string(parsed->pid) + " " + parsed->message) : expected.end();
        if (found == expected.end() || found->second-- != 1) {
            bad.push_back(line.substr(0, 200));
        }
    }
    EXPECT_EQ(bad.size(), 0u) << "bad or repeated lines, the first: " << (bad.empty() ? "" : bad[0]);
    EXPECT_EQ(bannerLines, 4 * pids.size()) << "one banner per process";
    const auto missing = std::count_if(expected.begin(), expected.end(), [](const auto& e) { return e.second == 1; });
    EXPECT_EQ(missing, 0) << "lines were lost";
}

TEST(SpineLogConcurrency, ThreadsOfOneProcess) {
    ScratchDir scratch("threads");
    const int threads = 8;
    const int lines = 2000;
    const pid_t child = spine::startChild([&] { return logFromThreads(scratch.path(), -1, threads, lines); });
    ASSERT_EQ(corvane::test::finishChild(child), 0);
    expectEveryLineOnceAndWhole(corvane::test::readFile(scratch / "corvane-native.log"), {child}, threads, lines);
}

TEST(SpineLogConcurrency, TwoProcessesShareOneLog) {
    ScratchDir scratch("processes");
    const int threads = 4;
    const int lines = 1500;
    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    std::set<long> pids;
    for (int p = 0; p < 2; ++p) {
        pids.insert(spine::startChild([&] {
            ::close(gate[1]);
            return logFromThreads(scratch.path(), gate[0], threads, lines);
        }));
    }
    ::close(gate[0]);
    ::usleep(100000);  // let both set up their logging; the gate opens when the write end closes
    ::close(gate[1]);
    for (const long pid : pids) {
        EXPECT_EQ(corvane::test::finishChild(static_cast<pid_t>(pid)), 0);
    }
    expectEveryLineOnceAndWhole(corvane::test::readFile(scratch / "corvane-native.log"), pids, threads, lines);
}

}  // namespace
