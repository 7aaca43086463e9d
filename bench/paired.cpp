// paired RUNS PROGRAM [ARG...] -- PROGRAM [ARG...]
// Runs two commands alternately RUNS times each and prints, for each, the median
// wall time of a whole process and its peak resident memory.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

struct Sample {
    double micros;
    long max_rss_kib;
};

Sample RunOnce(std::vector<char*>& argv)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", 1, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        std::perror(argv[0]);
        std::exit(1);
    }
    int status;
    rusage usage;
    wait4(pid, &status, 0, &usage);
    const auto end = std::chrono::steady_clock::now();
    posix_spawn_file_actions_destroy(&actions);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed\n", argv[0]);
        std::exit(1);
    }
    return {std::chrono::duration<double, std::micro>(end - start).count(), usage.ru_maxrss};
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: paired RUNS PROGRAM [ARG...] -- PROGRAM [ARG...]\n");
        return 2;
    }
    const int runs = std::atoi(argv[1]);
    std::vector<char*> a, b;
    std::vector<char*>* into = &a;
    for (int i = 2; i < argc; ++i) {
        if (std::string(argv[i]) == "--")
            into = &b;
        else
            into->push_back(argv[i]);
    }
    a.push_back(nullptr);
    b.push_back(nullptr);

    std::vector<double> time_a, time_b, ratio;
    long rss_a = 0, rss_b = 0;
    for (int i = 0; i < runs; ++i) {
        const Sample sa = RunOnce(a), sb = RunOnce(b);
        time_a.push_back(sa.micros);
        time_b.push_back(sb.micros);
        ratio.push_back(sa.micros / sb.micros);
        rss_a = std::max(rss_a, sa.max_rss_kib);
        rss_b = std::max(rss_b, sb.max_rss_kib);
    }
    std::printf("%-8s median %8.1f us  peak %6ld KiB\n", "first", Median(time_a), rss_a);
    std::printf("%-8s median %8.1f us  peak %6ld KiB\n", "second", Median(time_b), rss_b);
    std::printf("wall ratio (median of paired ratios) %.3f\n", Median(ratio));
    std::printf("memory ratio %.3f\n", static_cast<double>(rss_a) / rss_b);
    return 0;
}
