// Runs the test program itself again as a child process, for tests that must cross a process
// boundary (a checkpoint continued in a new process).
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace kvtest {

// Runs this program with --gtest_filter=Filter and the extra environment variables Env (besides
// the current environment) and waits for it. Returns its exit code, or -1 when it did not exit
// normally.
inline int RunThisProgram(const std::string& Filter,
                          const std::vector<std::pair<std::string, std::string>>& Env) {
    const std::string Self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string FilterArg = "--gtest_filter=" + Filter;
    std::vector<std::string> EnvText;
    for (char** E = environ; *E != nullptr; ++E)
        EnvText.emplace_back(*E);
    for (const auto& [Name, Value] : Env)
        EnvText.push_back(Name + "=" + Value);
    // Everything exec needs is made before the fork.
    std::vector<char*> Argv{const_cast<char*>(Self.c_str()), const_cast<char*>(FilterArg.c_str()),
                            nullptr};
    std::vector<char*> Envp;
    for (std::string& E : EnvText)
        Envp.push_back(E.data());
    Envp.push_back(nullptr);
    const pid_t Child = fork();
    if (Child < 0)
        return -1;
    if (Child == 0) {
        // The child's report would only repeat the parent's; its failures go to stderr.
        const int Null = open("/dev/null", O_WRONLY);
        if (Null >= 0)
            dup2(Null, STDOUT_FILENO);
        execve(Argv[0], Argv.data(), Envp.data());
        _exit(127);
    }
    int Status = 0;
    if (waitpid(Child, &Status, 0) != Child || !WIFEXITED(Status))
        return -1;
    return WEXITSTATUS(Status);
}

// A fresh, empty directory for one test.
inline std::filesystem::path FreshTestDir(const std::string& Name) {
    const char* Base = std::getenv("KVGA_TEST_TMP");
    std::filesystem::path Dir = std::filesystem::path(Base ? Base : "/tmp") /
                                ("kvga_" + Name + "_" + std::to_string(getpid()));
    std::filesystem::remove_all(Dir);
    std::filesystem::create_directories(Dir);
    return Dir;
}

} // namespace kvtest
