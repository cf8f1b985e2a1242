// Start-up benchmark: runs the maintenance window and a bare Qt window of the
// same size by turns, each until its first paint, and compares the time from
// process start to the first paint, the time from process start to its end
// right after that paint (launch to quit), the processor time and the peak
// resident memory. Given a third program (the bare window with one Korean
// label), it compares the window with that as well: the label's figures show
// what any window that draws text pays for the font system before its first
// paint.
//
// Usage: startup_bench <window program> <bare window program> [rounds]
//                      [<bare window with one label>]
// The programs print "first-paint-ns <CLOCK_MONOTONIC ns>" and end when
// SLV_BENCH_FIRST_PAINT is set. Needs a display (see run.sh).
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

namespace {

struct TRun {
    bool Ok = false;
    double StartMs = 0; // process start to first paint
    double ExitMs = 0;  // process start to its end, right after the first paint
    double PeakRssMb = 0;
    double CpuMs = 0; // user + system time of the process
};

long long MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

TRun RunOnce(const std::string& program) {
    TRun run;
    int out[2];
    if (pipe(out) != 0) {
        return run;
    }
    const long long started = MonotonicNs();
    const pid_t pid = fork();
    if (pid < 0) {
        close(out[0]);
        close(out[1]);
        return run;
    }
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
        execv(program.c_str(), argv);
        _exit(127);
    }
    close(out[1]);

    std::string text;
    bool ended = false; // the program closed its output: it is ending
    char buffer[256];
    pollfd fd{out[0], POLLIN, 0};
    const long long deadline = started + 30LL * 1000000000LL;
    while (MonotonicNs() < deadline) {
        const int ready = poll(&fd, 1, 200);
        if (ready < 0) {
            break;
        }
        if (ready == 0) {
            continue;
        }
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0) {
            ended = n == 0;
            break;
        }
        text.append(buffer, static_cast<size_t>(n));
    }
    close(out[0]);

    int status = 0;
    rusage usage{};
    if (!ended) {
        kill(pid, SIGKILL); // did not end in time
        wait4(pid, &status, 0, &usage);
        return run;
    }
    wait4(pid, &status, 0, &usage);
    const long long exited = MonotonicNs();
    const auto at = text.find("first-paint-ns ");
    if (at == std::string::npos || !WIFEXITED(status)) {
        return run;
    }
    const long long painted = std::atoll(text.c_str() + at + std::strlen("first-paint-ns "));
    run.Ok = true;
    run.StartMs = static_cast<double>(painted - started) / 1e6;
    run.ExitMs = static_cast<double>(exited - started) / 1e6;
    run.PeakRssMb = static_cast<double>(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
    run.CpuMs = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    return run;
}

double Median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 != 0 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

struct TProgram {
    TProgram(std::string path, const char* name) : Path(std::move(path)), Name(name) {}
    std::string Path;
    const char* Name;
    std::vector<double> Ms, Exit, Cpu, Mb;
};

double Fastest(std::vector<double> values) {
    return *std::min_element(values.begin(), values.end());
}

// One line of the summary: the window's figure, then each yardstick's with
// the window's ratio to it (or, for memory, the difference).
void PrintComparison(const char* what, const char* unit, double (*pick)(std::vector<double>),
                     std::vector<double> TProgram::*field, const std::vector<TProgram>& programs,
                     bool difference, const char* target) {
    const double w = pick(programs[0].*field);
    std::printf("%s: window %.1f %s", what, w, unit);
    for (size_t i = 1; i < programs.size(); ++i) {
        const double y = pick(programs[i].*field);
        if (difference) {
            std::printf(", %s %.1f %s (difference %+.1f %s)", programs[i].Name, y, unit, w - y,
                        unit);
        } else {
            std::printf(", %s %.1f %s (ratio %.2f)", programs[i].Name, y, unit, w / y);
        }
    }
    std::printf("%s\n", target);
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: %s <window program> <bare window program> [rounds] "
                     "[<bare window with one label>]\n",
                     argv[0]);
        return 2;
    }
    std::vector<TProgram> programs{TProgram(argv[1], "window"), TProgram(argv[2], "bare")};
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 15;
    if (argc > 4) {
        programs.push_back(TProgram(argv[4], "one label"));
    }
    setenv("SLV_BENCH_FIRST_PAINT", "1", 1);

    // One round of each to warm the file cache; not counted.
    for (const TProgram& program : programs) {
        RunOnce(program.Path);
    }

    std::printf("%5s", "round");
    for (const TProgram& program : programs) {
        std::printf("  %10s %8s %8s", program.Name, "cpu ms", "MB");
    }
    std::printf("\n");
    const size_t count = programs.size();
    for (int round = 1; round <= rounds; ++round) {
        // Each round starts with another program.
        std::vector<TRun> runs(count);
        for (size_t k = 0; k < count; ++k) {
            const size_t i = (static_cast<size_t>(round) + k) % count;
            runs[i] = RunOnce(programs[i].Path);
        }
        std::printf("%5d", round);
        for (size_t i = 0; i < count; ++i) {
            if (!runs[i].Ok) {
                std::fprintf(stderr, "\nround %d: %s did not report its first paint\n", round,
                             programs[i].Path.c_str());
                return 1;
            }
            programs[i].Ms.push_back(runs[i].StartMs);
            programs[i].Exit.push_back(runs[i].ExitMs);
            programs[i].Cpu.push_back(runs[i].CpuMs);
            programs[i].Mb.push_back(runs[i].PeakRssMb);
            std::printf("  %10.1f %8.1f %8.1f", runs[i].StartMs, runs[i].CpuMs, runs[i].PeakRssMb);
        }
        std::printf("\n");
    }

    std::printf("\n");
    PrintComparison("median start to first paint", "ms", Median, &TProgram::Ms, programs, false,
                    "; target against bare <= 1.20");
    PrintComparison("fastest start to first paint", "ms", Fastest, &TProgram::Ms, programs, false,
                    "");
    // Launch to quit: the bare window loads the font configuration only as
    // it ends, after its first paint.
    PrintComparison("median start to exit", "ms", Median, &TProgram::Exit, programs, false, "");
    PrintComparison("median processor time", "ms", Median, &TProgram::Cpu, programs, false, "");
    PrintComparison("median peak memory", "MB", Median, &TProgram::Mb, programs, true,
                    "; target against bare <= +10 MB");
    return 0;
}
