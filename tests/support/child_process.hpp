// Runs the built programs as the tests' children: through the emulator that
// the environment names in FIFO_CLIENT_TEST_EMULATOR (CTest sets it for a
// cross build; on the target itself it is unset), in a folder of the test's
// choosing, with their output captured. FIFO_CLIENT_TEST_CLIENT, when set,
// names the client to run instead of the one built beside the tests.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

struct command_line {
    std::string file;              // what is executed (looked up in PATH)
    std::vector<std::string> argv; // argv[0] included
};

// Whether the target's programs run under an emulator.
bool emulated();
// A program built for the target, shown `argv0` as its name when one is given.
command_line target_command(const std::string& program, const std::vector<std::string>& args,
                            const std::optional<std::string>& argv0 = std::nullopt);
// The client under test: FIFO_CLIENT_TEST_CLIENT's, else the one built here.
std::string client_program();
command_line client_command(const std::vector<std::string>& args,
                            const std::optional<std::string>& argv0 = std::nullopt);
command_line stand_in_command(const std::vector<std::string>& args);
// The same command, run by another program: `runner` is that program's name
// and the arguments that come before the command.
command_line run_by(std::vector<std::string> runner, const command_line& command);
// The same command, run as the unprivileged user "nobody".
command_line as_nobody(const command_line& command);
// The same command, started with the process state `state` that
// careless_caller sets up before its exec.
command_line from_careless_caller(const std::string& state, const command_line& command);

struct run_result {
    bool exited = false;
    int status = -1;   // exit status, when exited
    int signal = 0;    // terminating signal, when killed by one
    bool hung = false; // still running at the limit, and killed by the test
    std::chrono::milliseconds elapsed{0};
    std::string out;
    std::string err;
};

class child_process {
public:
    // Standard input is /dev/null; output and errors are captured. Signals
    // start at their defaults and unblocked, whatever the test process has set.
    child_process(const command_line& command, const std::string& cwd);
    ~child_process();
    child_process(const child_process&) = delete;
    child_process& operator=(const child_process&) = delete;

    run_result wait(std::chrono::milliseconds limit = std::chrono::seconds(20));
    // Sends `signal_number` to the program started (to its emulator, which
    // passes it on).
    void send(int signal_number);

private:
    pid_t pid_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
    std::chrono::steady_clock::time_point started_;
};

run_result run(const command_line& command, const std::string& cwd,
               std::chrono::milliseconds limit = std::chrono::seconds(20));
