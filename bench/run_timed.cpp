// Runs a command once over a list of files and reports what it cost, for scripts/bench:
//
//   run_timed all COMMAND [ARG...] -- FILE...       one process, every file as an argument
//   run_timed each COMMAND [ARG...] -- FILE...      one process per file, one after another
//
// Prints one line, "wall_s user_s sys_s max_rss_kib failures": the wall time of the whole run,
// the CPU time of the processes, the largest maximum resident set size among them, and how many
// exited other than 0. Standard input is /dev/null; the processes' output is discarded.
//
// Timing from here rather than from the Python harness keeps the harness out of the figures:
// a child created by posix_spawn starts with its parent's memory counted as resident, so the
// parent must be small for the peak memory of a child to mean anything.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <spawn.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char **environ;

namespace {

struct Totals {
    double user = 0;
    double system = 0;
    long maxRssKib = 0;
    int failures = 0;
};

double seconds(const timeval &t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Runs argv (terminated by a null pointer) to its end and adds its usage to the totals; false
// when it cannot be started.
bool run(char **argv, Totals &totals) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        std::fprintf(stderr, "run_timed: cannot run %s: %s\n", argv[0], std::strerror(error));
        return false;
    }
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR)
            return false;
    }
    totals.user += seconds(usage.ru_utime);
    totals.system += seconds(usage.ru_stime);
    if (usage.ru_maxrss > totals.maxRssKib)
        totals.maxRssKib = usage.ru_maxrss;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        ++totals.failures;
    return true;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 4 || (std::strcmp(argv[1], "all") != 0 && std::strcmp(argv[1], "each") != 0)) {
        std::fprintf(stderr, "usage: run_timed all|each COMMAND [ARG...] -- FILE...\n");
        return 2;
    }
    const bool each = std::strcmp(argv[1], "each") == 0;
    int separator = 2;
    while (separator < argc && std::strcmp(argv[separator], "--") != 0)
        ++separator;
    const int commandLength = separator - 2;
    if (commandLength == 0 || separator == argc) {
        std::fprintf(stderr, "run_timed: a command and \"--\" are needed\n");
        return 2;
    }
    // Room for the command, every file and the terminating null pointer. No C++ library is
    // used, so that this launcher stays small: see the note at the top.
    char **command =
        static_cast<char **>(std::calloc(static_cast<std::size_t>(argc), sizeof(char *)));
    if (command == nullptr)
        return 1;
    std::memcpy(command, argv + 2, static_cast<std::size_t>(commandLength) * sizeof(char *));

    Totals totals;
    bool started = true;
    const double start = now();
    if (each) {
        for (int i = separator + 1; i < argc && started; ++i) {
            command[commandLength] = argv[i];
            command[commandLength + 1] = nullptr;
            started = run(command, totals);
        }
    } else {
        const int files = argc - separator - 1;
        std::memcpy(command + commandLength, argv + separator + 1,
                    static_cast<std::size_t>(files) * sizeof(char *));
        command[commandLength + files] = nullptr;
        started = run(command, totals);
    }
    const double wall = now() - start;
    std::free(command);
    if (!started)
        return 1;
    std::printf("%.6f %.6f %.6f %ld %d\n", wall, totals.user, totals.system, totals.maxRssKib,
                totals.failures);
    return 0;
}
