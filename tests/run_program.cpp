#include "run_program.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

RunResult RunOnce(const std::vector<std::string>& command, const std::filesystem::path& dir,
                  const std::filesystem::path& logs, rlim_t file_size_limit, bool ignore_xfsz)
{
    std::vector<std::string> words = command;
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

    const std::string out = (logs / "out").string(), err = (logs / "err").string();
    const pid_t pid = fork();
    if (pid == 0) {
        const rlimit limit{file_size_limit, file_size_limit};
        const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (chdir(dir.c_str()) != 0 || o < 0 || e < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0 ||
            setrlimit(RLIMIT_FSIZE, &limit) != 0)
            _exit(126);
        umask(022);
        if (ignore_xfsz)
            signal(SIGXFSZ, SIG_IGN);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status), Slurp(out), Slurp(err)};
}

} // namespace

RunResult RunProgram(const std::vector<std::string>& command, const std::filesystem::path& dir,
                     const std::filesystem::path& logs, rlim_t file_size_limit, bool wine)
{
    RunResult result = RunOnce(command, dir, logs, file_size_limit, wine);
    if (wine && result.status == 1 && result.out.empty() && result.err.empty()) {
        std::fprintf(stderr, "note: wine did not start the program in %s; running it again\n",
                     dir.c_str());
        result = RunOnce(command, dir, logs, file_size_limit, wine);
    }
    return result;
}

std::string Slurp(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

std::string ConsoleLines(std::string s, bool windows)
{
    if (windows)
        for (std::size_t at = 0; (at = s.find('\n', at)) != std::string::npos; at += 2)
            s.insert(at, 1, '\r');
    return s;
}
