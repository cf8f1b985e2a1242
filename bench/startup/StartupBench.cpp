// Start-up benchmark: runs the maintenance window and a bare Qt window of the
// same size by turns, each until its first paint, and compares the time from
// process start to the first paint and the peak resident memory.
//
// Usage: startup_bench <window program> <bare window program> [rounds]
// Both programs print "first-paint-ns <CLOCK_MONOTONIC ns>" and end when
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
#include <vector>

namespace {

struct TRun {
    bool Ok = false;
    double StartMs = 0; // process start to first paint
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
    const auto at = text.find("first-paint-ns ");
    if (at == std::string::npos || !WIFEXITED(status)) {
        return run;
    }
    const long long painted = std::atoll(text.c_str() + at + std::strlen("first-paint-ns "));
    run.Ok = true;
    run.StartMs = static_cast<double>(painted - started) / 1e6;
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

} // namespace

int main(int argc, char* argv[]) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <window program> <bare window program> [rounds]\n",
                     argv[0]);
        return 2;
    }
    const std::string tool = argv[1];
    const std::string bare = argv[2];
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 15;
    setenv("SLV_BENCH_FIRST_PAINT", "1", 1);

    // One round of each to warm the file cache; not counted.
    RunOnce(tool);
    RunOnce(bare);

    std::vector<double> toolMs, bareMs, toolMb, bareMb, toolCpu, bareCpu;
    std::printf("%5s  %10s %8s %8s  %10s %8s %8s\n", "round", "window ms", "cpu ms", "MB",
                "bare ms", "cpu ms", "MB");
    for (int round = 1; round <= rounds; ++round) {
        // Alternate which program goes first.
        TRun a, b;
        if (round % 2 != 0) {
            a = RunOnce(tool);
            b = RunOnce(bare);
        } else {
            b = RunOnce(bare);
            a = RunOnce(tool);
        }
        if (!a.Ok || !b.Ok) {
            std::fprintf(stderr, "round %d: a program did not report its first paint\n", round);
            return 1;
        }
        toolCpu.push_back(a.CpuMs);
        bareCpu.push_back(b.CpuMs);
        toolMs.push_back(a.StartMs);
        toolMb.push_back(a.PeakRssMb);
        bareMs.push_back(b.StartMs);
        bareMb.push_back(b.PeakRssMb);
        std::printf("%5d  %10.1f %8.1f %8.1f  %10.1f %8.1f %8.1f\n", round, a.StartMs, a.CpuMs,
                    a.PeakRssMb, b.StartMs, b.CpuMs, b.PeakRssMb);
    }

    const double tMs = Median(toolMs);
    const double bMs = Median(bareMs);
    const double tMb = Median(toolMb);
    const double bMb = Median(bareMb);
    std::printf("\nmedian start to first paint: window %.1f ms, bare %.1f ms, ratio %.2f "
                "(target <= 1.20)\n",
                tMs, bMs, tMs / bMs);
    const double tMin = *std::min_element(toolMs.begin(), toolMs.end());
    const double bMin = *std::min_element(bareMs.begin(), bareMs.end());
    std::printf("fastest start to first paint: window %.1f ms, bare %.1f ms, ratio %.2f\n", tMin,
                bMin, tMin / bMin);
    const double tCpu = Median(toolCpu);
    const double bCpu = Median(bareCpu);
    std::printf("median processor time: window %.1f ms, bare %.1f ms, ratio %.2f\n", tCpu, bCpu,
                tCpu / bCpu);
    std::printf("median peak memory: window %.1f MB, bare %.1f MB, difference %+.1f MB "
                "(target <= +10)\n",
                tMb, bMb, tMb - bMb);
    return 0;
}
