// Native log throughput: lines per second that CORVANE_LOG writes into the
// log file from one thread and from several threads at once, and the cost of
// one line. Each measurement runs in a child process of its own (the log is
// set up once per process, with initialize_logging) with a fresh log
// directory; afterwards the file is read back and every line is checked
// whole: the prefix, the time stamp, the level tag and the exact message, and
// that every thread's lines are all there, each once, in the order written.
//
//   logging_bench [--lines N] [--threads T,T,...] [--repeat N] [--dir DIR] [--rows-only]
// N is the number of lines per measurement, shared out among the threads.
// One writer has an aim in the table's rows; several writers are reported.

#include <atomic>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "../common/BenchSupport.h"
#include "BuildVersion.h"
#include "log/DumbLogger.h"
#include "log/DumpLoggerBuilder.h"

namespace {

// A typical launcher log line: the function name, a short text and a value.
const char PAYLOAD[] = "line of the logging benchmark, about as long as the launcher's own lines";

std::string expectedMessage(int thread, int index) {
    return std::string(" writeLines ") + PAYLOAD + " t=" + std::to_string(thread) + " n=" + std::to_string(index);
}

void writeLines(int thread, int count) {
    for (int i = 0; i < count; ++i) {
        CORVANE_LOG(INFO) << PAYLOAD << "t=" + std::to_string(thread) << "n=" + std::to_string(i);
    }
}

// In the child: set the log up in `dir`, write `lines` lines from `threads`
// threads started together; print the elapsed nanoseconds on `fd`.
[[noreturn]] void measureInChild(const std::string& dir, int threads, int lines, int fd) {
    ::setenv("CORVANE_NATIVE_LOG_DIR_OVERRIDE", dir.c_str(), 1);
    initialize_logging(false);
    std::atomic<int> waiting{threads};
    std::atomic<bool> go{false};
    std::vector<std::thread> workers;
    const int perThread = lines / threads;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([t, perThread, &waiting, &go] {
            waiting.fetch_sub(1);
            while (!go.load()) {
                std::this_thread::yield();
            }
            writeLines(t, perThread);
        });
    }
    while (waiting.load() > 0) {
        std::this_thread::yield();
    }
    const long long start = bench::monoNs();
    go.store(true);
    for (std::thread& worker : workers) {
        worker.join();
    }
    const long long elapsed = bench::monoNs() - start;
    const std::string text = std::to_string(elapsed) + "\n";
    if (::write(fd, text.data(), text.size()) < 0) {
        ::_exit(1);
    }
    ::_exit(0);
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// "YYYY-MM-DD HH:MM:SS.mmm"
bool isTimeStamp(const std::string& line, std::size_t at) {
    static const char shape[] = "dddd-dd-dd dd:dd:dd.ddd";
    if (line.size() < at + sizeof shape - 1) {
        return false;
    }
    for (std::size_t i = 0; i + 1 < sizeof shape; ++i) {
        const char c = line[at + i];
        if (shape[i] == 'd' ? !isDigit(c) : c != shape[i]) {
            return false;
        }
    }
    return true;
}

struct Check {
    long long whole = 0;
    long long broken = 0;
    long long missing = 0;
    long long outOfOrder = 0;
};

Check checkLog(const std::string& log, pid_t pid, int threads, int perThread) {
    Check check;
    const std::string prefix = std::string(CORVANE_BUILD_VERSION) + " " + std::to_string(pid) + " ";
    const std::string tag = " INFO   ---- (native)                 ";
    const std::string banner = "\n\n==========================================\nLogger initialized\n";
    std::vector<int> next(static_cast<std::size_t>(threads), 0);
    std::size_t at = log.compare(0, banner.size(), banner) == 0 ? banner.size() : 0;
    if (at == 0) {
        ++check.broken;
    }
    while (at < log.size()) {
        std::size_t end = log.find('\n', at);
        if (end == std::string::npos) {
            end = log.size();
        }
        const std::string line = log.substr(at, end - at);
        at = end + 1;
        const std::size_t stampAt = prefix.size();
        const std::size_t tagAt = stampAt + 23;
        const std::size_t messageAt = tagAt + tag.size();
        if (line.compare(0, prefix.size(), prefix) != 0 || !isTimeStamp(line, stampAt) ||
            line.compare(tagAt, tag.size(), tag) != 0) {
            ++check.broken;
            continue;
        }
        const std::string message = line.substr(messageAt);
        const long long t = bench::numberAfter(message, " t=");
        const long long n = bench::numberAfter(message, " n=");
        if (t < 0 || t >= threads || n < 0 || message != expectedMessage(static_cast<int>(t), static_cast<int>(n))) {
            ++check.broken;
            continue;
        }
        int& expected = next[static_cast<std::size_t>(t)];
        if (n != expected) {
            ++check.outOfOrder;
        }
        expected = static_cast<int>(n) + 1;
        ++check.whole;
    }
    const long long wanted = static_cast<long long>(threads) * perThread;
    check.missing = wanted > check.whole ? wanted - check.whole : 0;
    return check;
}

struct Figure {
    std::vector<double> linesPerSecond;
    long long broken = 0;
    long long missing = 0;
    long long outOfOrder = 0;
    long long checked = 0;
    int failures = 0;
};

void measure(Figure& figure, const std::string& parent, int threads, int lines) {
    const std::string dir = bench::makeScratchDir(parent, "logging");
    int out[2];
    if (::pipe(out) != 0) {
        ++figure.failures;
        return;
    }
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(out[0]);
        measureInChild(dir, threads, lines, out[1]);
    }
    ::close(out[1]);
    const std::string text = bench::readAll(out[0]);
    ::close(out[0]);
    const int status = bench::reap(pid);
    const long long elapsedNs = std::atoll(text.c_str());
    const std::string log = bench::readFile(dir + "/corvane-native.log");
    bench::removeDir(dir);
    const int perThread = lines / threads;
    if (status != 0 || elapsedNs <= 0) {
        ++figure.failures;
        return;
    }
    const Check check = checkLog(log, pid, threads, perThread);
    figure.broken += check.broken;
    figure.missing += check.missing;
    figure.outOfOrder += check.outOfOrder;
    figure.checked += check.whole;
    figure.linesPerSecond.push_back(static_cast<double>(threads) * perThread / (static_cast<double>(elapsedNs) / 1e9));
}

// "T,T,...": thread counts from 1 to 256; false for anything else.
bool parseThreadCounts(const std::string& list, std::vector<int>& counts) {
    counts.clear();
    for (std::size_t from = 0; from <= list.size();) {
        std::size_t comma = list.find(',', from);
        if (comma == std::string::npos) {
            comma = list.size();
        }
        const int count = bench::intOption(list.substr(from, comma - from).c_str(), 0);
        if (count <= 0 || count > 256) {
            return false;
        }
        counts.push_back(count);
        from = comma + 1;
    }
    return true;
}

const char USAGE[] = "logging_bench [--lines N] [--threads T,T,...] [--repeat N] [--dir DIR] [--rows-only]";

// The row of one thread count; `intact`: every line whole and there, in order.
void printRow(int threads, double perSecond, bool intact) {
    const bool measured = !std::isnan(perSecond);
    const std::string whole = !measured ? "n/a" : intact ? "yes" : "NO";
    const std::string figure = "Native log, " + std::to_string(threads) + (threads == 1 ? " thread" : " threads") +
                               ": lines/s (" + bench::cell(1e6 / perSecond, 2) + " µs per line; all lines whole" +
                               (threads == 1 ? "" : ", none lost") + ": " + whole + ")";
    if (threads == 1) {
        const bench::Aim aim = bench::atLeast(50000, 0);
        bench::printRow(figure, bench::cell(perSecond, 0), "–", "–", aim.text(), aim.met(perSecond));
    } else {
        bench::printRow(figure, bench::cell(perSecond, 0), "–", "–", "(reported)",
                        measured ? bench::yesOrNo(intact) : "n/a");
    }
}

}  // namespace

int main(int argc, char** argv) {
    int lines = 80000;
    int repeat = 3;
    std::string dir = bench::defaultScratchParent();
    std::string threadList = "1,8";
    std::vector<int> threadCounts;
    bool rowsOnly = false;
    const bool parsed = bench::parseOptions(
        argc, argv,
        {bench::countOption("--lines", lines), bench::countOption("--repeat", repeat), bench::textOption("--dir", dir),
         bench::textOption("--threads", threadList), bench::rowsOnlyOption(rowsOnly)});
    if (!parsed || !parseThreadCounts(threadList, threadCounts)) {
        return bench::usage(USAGE);
    }
    if (rowsOnly) {
        for (const int threads : threadCounts) {
            printRow(threads, std::nan(""), false);
        }
        return 0;
    }

    std::printf("native log: %d lines per measurement, %d measurements per thread count, in %s\n", lines, repeat,
                dir.c_str());
    int failures = 0;
    for (const int threads : threadCounts) {
        Figure figure;
        for (int r = 0; r < repeat; ++r) {
            measure(figure, dir, threads, lines);
        }
        std::vector<double> thousands;
        for (const double value : figure.linesPerSecond) {
            thousands.push_back(value / 1000.0);
        }
        bench::printSeries(std::to_string(threads) + " thread(s): lines per second", thousands, "k/s");
        const double perSecond = bench::median(figure.linesPerSecond);
        std::printf("  %d thread(s): %lld lines checked whole, %lld broken, %lld missing, %lld out of order; "
                    "%.2f us per line (%s)\n",
                    threads, figure.checked, figure.broken, figure.missing, figure.outOfOrder, 1e6 / perSecond,
                    threads == 1 ? "one writer" : "wall time / lines, all writers");
        const bool intact = figure.broken == 0 && figure.missing == 0 && figure.outOfOrder == 0 && figure.failures == 0;
        char more[160];
        std::snprintf(more, sizeof more, "us_per_line=%.3f intact=%d broken=%lld missing=%lld threads=%d", 1e6 / perSecond,
                      intact ? 1 : 0, figure.broken, figure.missing, threads);
        bench::printResult("log_" + std::to_string(threads), perSecond, std::nan(""), "lines/s", more);
        printRow(threads, perSecond, intact);
        failures += intact ? 0 : 1;
    }
    return failures == 0 ? 0 : 1;
}
