#include "child_process.hpp"

#include "test_config.hpp"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace {

command_line through_emulator(const std::string& program, const std::vector<std::string>& args,
                              const std::string* argv0)
{
    command_line command;
    for (const char* const* word = test_config::emulator; *word != nullptr; ++word)
        command.argv.emplace_back(*word);
    if (command.argv.empty()) {
        command.file = program;
        command.argv.push_back(argv0 != nullptr ? *argv0 : program);
    } else {
        command.file = command.argv.front();
        if (argv0 != nullptr) {
            command.argv.emplace_back("-0");
            command.argv.push_back(*argv0);
        }
        command.argv.emplace_back(program);
    }
    command.argv.insert(command.argv.end(), args.begin(), args.end());
    return command;
}

int capture_file()
{
    FILE* file = std::tmpfile();
    if (file == nullptr)
        throw std::runtime_error("tmpfile failed");
    const int fd = fcntl(fileno(file), F_DUPFD_CLOEXEC, 0);
    std::fclose(file);
    return fd;
}

std::string read_all(int fd)
{
    std::string text;
    char buffer[4096];
    off_t at = 0;
    ssize_t got = 0;
    while ((got = pread(fd, buffer, sizeof buffer, at)) > 0) {
        text.append(buffer, static_cast<size_t>(got));
        at += got;
    }
    return text;
}

} // namespace

command_line client_command(const std::vector<std::string>& args)
{
    return through_emulator(test_config::client_program, args, nullptr);
}

command_line client_command(const std::vector<std::string>& args, const std::string& argv0)
{
    return through_emulator(test_config::client_program, args, &argv0);
}

command_line stand_in_command(const std::vector<std::string>& args)
{
    return through_emulator(test_config::stand_in_program, args, nullptr);
}

command_line program_command(const std::string& program, const std::vector<std::string>& args)
{
    return through_emulator(program, args, nullptr);
}

command_line as_nobody(const command_line& command)
{
    command_line wrapped{"setpriv",
                         {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", command.file}};
    wrapped.argv.insert(wrapped.argv.end(), command.argv.begin() + 1, command.argv.end());
    return wrapped;
}

command_line from_careless_caller(const std::string& state, const command_line& command)
{
    std::vector<std::string> args{state, command.file};
    args.insert(args.end(), command.argv.begin() + 1, command.argv.end());
    return through_emulator(test_config::careless_caller_program, args, nullptr);
}

long long now_ms()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void sleep_ms(long ms)
{
    timespec pause{ms / 1000, (ms % 1000) * 1'000'000};
    while (nanosleep(&pause, &pause) != 0) {
    }
}

child_process::child_process(const command_line& command, const std::string& cwd, bool capture)
{
    std::vector<char*> argv;
    for (const std::string& word : command.argv)
        argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    out_fd_ = capture ? capture_file() : open("/dev/null", O_WRONLY | O_CLOEXEC);
    err_fd_ = capture ? capture_file() : open("/dev/null", O_WRONLY | O_CLOEXEC);

    started_ms_ = now_ms();
    pid_ = fork();
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        const int no_input = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (no_input < 0 || dup2(no_input, 0) < 0 || dup2(out_fd_, 1) < 0 || dup2(err_fd_, 2) < 0 ||
            chdir(cwd.c_str()) != 0)
            _exit(126);
        execvp(command.file.c_str(), argv.data());
        _exit(127);
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

run_result child_process::wait(int limit_ms)
{
    run_result result;
    int status = 0;
    for (;;) {
        const pid_t ended = waitpid(pid_, &status, WNOHANG);
        if (ended == pid_)
            break;
        if (now_ms() - started_ms_ > limit_ms) {
            result.hung = true;
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
        sleep_ms(1);
    }
    pid_ = -1;
    result.elapsed_ms = now_ms() - started_ms_;
    result.exited = WIFEXITED(status);
    result.status = result.exited ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    result.out = read_all(out_fd_);
    result.err = read_all(err_fd_);
    return result;
}

run_result run(const command_line& command, const std::string& cwd, int limit_ms)
{
    return child_process(command, cwd).wait(limit_ms);
}
