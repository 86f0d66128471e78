// Runs commands as child processes and reports their CPU time (user +
// system, from wait4), for the benchmark.
//   measure pairs N DIR A... -- B...   N interleaved pairs of A then B, each
//                                      side RUNS runs long; prints the median
//                                      of the ratios A/B and both medians
//   measure cpu N DIR A...             the median of N runs of A
// Commands run in DIR with standard output and error sent to /dev/null.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Each sample is this many runs back to back, so that a sample is long
// enough for the kernel's CPU accounting to be exact.
constexpr int kRunsPerSample = 10;

double cpuSeconds(const std::vector<char*>& argv, const char* dir) {
    double total = 0;
    for (int i = 0; i < kRunsPerSample; ++i) {
        const pid_t child = ::fork();
        if (child == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            if (null < 0 || ::dup2(null, 1) < 0 || ::dup2(null, 2) < 0 || ::chdir(dir) != 0)
                ::_exit(127);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        int status = 0;
        struct rusage usage;
        if (::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
            WEXITSTATUS(status) == 127) {
            std::fprintf(stderr, "measure: %s did not run\n", argv[0]);
            std::exit(1);
        }
        total += usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                 usage.ru_stime.tv_usec / 1e6;
    }
    return total / kRunsPerSample;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: measure pairs|cpu N DIR COMMAND... [-- COMMAND...]\n");
        return 1;
    }
    const std::string mode = argv[1];
    const int n = std::atoi(argv[2]);
    const char* dir = argv[3];
    std::vector<char*> a, b;
    std::vector<char*>* side = &a;
    for (int i = 4; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            side = &b;
            continue;
        }
        side->push_back(argv[i]);
    }
    a.push_back(nullptr);
    b.push_back(nullptr);
    std::vector<double> as, bs, ratios;
    for (int i = 0; i < n; ++i) {
        as.push_back(cpuSeconds(a, dir));
        if (mode == "pairs") {
            bs.push_back(cpuSeconds(b, dir));
            ratios.push_back(bs.back() > 0 ? as.back() / bs.back() : 0);
        }
    }
    if (mode == "pairs") {
        std::printf("%.3f %.6f %.6f\n", median(ratios), median(as), median(bs));
    } else {
        std::printf("%.6f\n", median(as));
    }
    return 0;
}
