#include "child_process.hpp"

#include "files.hpp"
#include "test_config.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

std::vector<std::string> emulator_words()
{
    const char* emulator = std::getenv("FIFO_CLIENT_TEST_EMULATOR");
    std::istringstream words(emulator != nullptr ? emulator : "");
    std::vector<std::string> split;
    for (std::string word; words >> word;)
        split.push_back(word);
    return split;
}

// An unnamed file, so that a child's output is a regular file as it would
// be when redirected by a shell.
int capture_file()
{
    const int fd = open(std::filesystem::temp_directory_path().c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0)
        throw std::runtime_error("cannot make a file to capture output");
    return fd;
}

std::string captured(int fd)
{
    if (lseek(fd, 0, SEEK_SET) != 0)
        throw std::runtime_error("cannot rewind captured output");
    return read_all(fd);
}

} // namespace

bool emulated()
{
    return !emulator_words().empty();
}

command_line target_command(const std::string& program, const std::vector<std::string>& args,
                            const std::optional<std::string>& argv0)
{
    command_line command{program, {argv0.value_or(program)}};
    if (std::vector<std::string> emulator = emulator_words(); !emulator.empty()) {
        command.file = emulator.front();
        command.argv = std::move(emulator);
        if (argv0) {
            command.argv.emplace_back("-0");
            command.argv.push_back(*argv0);
        }
        command.argv.push_back(program);
    }
    command.argv.insert(command.argv.end(), args.begin(), args.end());
    return command;
}

std::string client_program()
{
    // Another build of the client under test, such as one linked against a
    // C library that cannot hold these test programs.
    const char* other = std::getenv("FIFO_CLIENT_TEST_CLIENT");
    return other != nullptr && *other != '\0' ? other : test_config::client_program;
}

command_line client_command(const std::vector<std::string>& args, const std::optional<std::string>& argv0)
{
    return target_command(client_program(), args, argv0);
}

command_line stand_in_command(const std::vector<std::string>& args)
{
    return target_command(test_config::stand_in_program, args);
}

command_line run_by(std::vector<std::string> runner, const command_line& command)
{
    command_line wrapped{runner.front(), std::move(runner)};
    wrapped.argv.push_back(command.file);
    wrapped.argv.insert(wrapped.argv.end(), command.argv.begin() + 1, command.argv.end());
    return wrapped;
}

command_line as_nobody(const command_line& command)
{
    return run_by({"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"}, command);
}

command_line from_careless_caller(const std::string& state, const command_line& command)
{
    return run_by(target_command(test_config::careless_caller_program, {state}).argv, command);
}

child_process::child_process(const command_line& command, const std::string& cwd)
    : out_fd_(capture_file()), err_fd_(capture_file())
{
    std::vector<char*> argv(command.argv.size() + 1, nullptr);
    std::transform(command.argv.begin(), command.argv.end(), argv.begin(),
                   [](const std::string& word) { return const_cast<char*>(word.c_str()); });

    posix_spawn_file_actions_t actions{};
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out_fd_, 1);
    posix_spawn_file_actions_adddup2(&actions, err_fd_, 2);
    posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    posix_spawnattr_t attributes{};
    posix_spawnattr_init(&attributes);
    sigset_t all{};
    sigset_t none{};
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    started_ = std::chrono::steady_clock::now();
    const int failed = posix_spawnp(&pid_, command.file.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (failed != 0) {
        pid_ = -1;
        throw std::runtime_error("cannot start " + command.file + " in " + cwd);
    }
}

child_process::~child_process()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    close(out_fd_);
    close(err_fd_);
}

void child_process::send(int signal_number)
{
    if (pid_ > 0)
        kill(pid_, signal_number);
}

run_result child_process::wait(std::chrono::milliseconds limit)
{
    using std::chrono::steady_clock;
    run_result result;
    int status = 0;
    for (pid_t ended = 0; ended != pid_;) {
        ended = waitpid(pid_, &status, WNOHANG);
        if (ended < 0 && errno != EINTR)
            throw std::runtime_error("waitpid failed");
        if (ended == 0 && steady_clock::now() - started_ > limit) {
            result.hung = true;
            kill(pid_, SIGKILL);
            ended = waitpid(pid_, &status, 0);
        } else if (ended == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    pid_ = -1;
    result.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(steady_clock::now() - started_);
    result.exited = WIFEXITED(status);
    result.status = result.exited ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    result.out = captured(out_fd_);
    result.err = captured(err_fd_);
    return result;
}

run_result run(const command_line& command, const std::string& cwd, std::chrono::milliseconds limit)
{
    return child_process(command, cwd).wait(limit);
}
