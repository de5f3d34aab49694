#include "pack/tool_run.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "pack/file_io.h"
#include "pack/interrupt.h"

extern char** environ;

namespace {

std::string Outcome(int status)
{
    if (InterruptSignal() != 0)
        return "interrupted";
    if (WIFEXITED(status))
        return WEXITSTATUS(status) == 0 ? ""
                                        : "exited with status " +
                                              std::to_string(WEXITSTATUS(status));
    return "killed by signal " + std::to_string(WTERMSIG(status));
}

}  // namespace

std::string RunTool(const std::vector<std::string>& argv, const std::string& logPath)
{
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(),
                                     O_WRONLY | O_CREAT | O_EXCL, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid;
    int error = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error == ENOENT)
        return "not found on PATH";
    if (error != 0)
        return std::string("cannot be started: ") + strerror(error);
    int status = 0;
    bool bEnded = false;
    while (waitpid(pid, &status, 0) != pid) {
        if (errno != EINTR)
            return std::string("cannot be waited for: ") + strerror(errno);
        // Interrupted: the tool is ended too, and waited for, so that it
        // writes nothing more into the folder about to be removed.
        if (InterruptSignal() != 0 && !bEnded)
            bEnded = kill(pid, SIGTERM) == 0;
    }
    return Outcome(status);
}

bool OnPath(const std::string& program)
{
    // posix_spawnp's own default when PATH is not set.
    const char* pszPath = getenv("PATH");
    std::string path = pszPath != nullptr ? pszPath : "/bin:/usr/bin";
    for (size_t iStart = 0; iStart <= path.size();) {
        size_t iEnd = std::min(path.find(':', iStart), path.size());
        std::string candidate = iEnd == iStart ? "." : path.substr(iStart, iEnd - iStart);
        candidate += '/';
        candidate += program;
        struct stat st;
        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            access(candidate.c_str(), X_OK) == 0)
            return true;
        iStart = iEnd + 1;
    }
    return false;
}

std::string MissingTool(const std::string& program)
{
    return program + " is missing: not found on PATH (install the Debian package " + program +
           ")";
}

bool RunExplained(const std::vector<std::string>& argv, const std::string& logPath,
                  std::string* pWhy)
{
    unlink(logPath.c_str());
    std::string why = RunTool(argv, logPath);
    if (why.empty())
        return true;
    if (why == "not found on PATH") {
        *pWhy = MissingTool(argv[0]);
        return false;
    }
    std::string log, unread;
    ReadBounded(logPath, 1u << 20, &log, &unread);
    *pWhy = argv[0] + " " + argv[1] + " failed (" + why + "):\n" +
            (log.empty() ? "(it wrote nothing)\n" : log);
    return false;
}
