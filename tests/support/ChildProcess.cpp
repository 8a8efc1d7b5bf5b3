#include "ChildProcess.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include "TestSupport.h"

extern char** environ;

namespace kxtest {

pid_t SpawnProgram(const std::string& program, const std::vector<std::string>& args,
                   const std::string& folder)
{
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : all) argv.push_back(arg.data());
    argv.push_back(nullptr);

    const std::string outPath = folder + "/stdout.txt", errPath = folder + "/stderr.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? child : 0;
}

ProgramOutcome WaitForProgram(pid_t child, const std::string& folder)
{
    int wait = 0;
    if (child <= 0 || waitpid(child, &wait, 0) != child || !WIFEXITED(wait)) return {};
    const auto text = [](const std::string& path) {
        const auto bytes = ReadFileBytes(path);
        return std::string(bytes.begin(), bytes.end());
    };
    return {WEXITSTATUS(wait), text(folder + "/stdout.txt"), text(folder + "/stderr.txt")};
}

ProgramOutcome RunProgram(const std::string& program, const std::vector<std::string>& args,
                          const std::string& folder)
{
    return WaitForProgram(SpawnProgram(program, args, folder), folder);
}

}  // namespace kxtest
