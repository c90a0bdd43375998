// Runs the built programs as the tests' children: through the target's
// emulator where there is one, in a folder of the test's choosing, with
// their output captured.
#pragma once

#include <string>
#include <vector>

struct command_line {
    std::string file;              // what is executed (looked up in PATH)
    std::vector<std::string> argv; // argv[0] included
};

// The client under test; `argv0` is the program name it is shown.
command_line client_command(const std::vector<std::string>& args);
command_line client_command(const std::vector<std::string>& args, const std::string& argv0);
command_line stand_in_command(const std::vector<std::string>& args);
// Any program built for the target, such as a copy of the client.
command_line program_command(const std::string& program, const std::vector<std::string>& args);
// The same command, run as the unprivileged user "nobody".
command_line as_nobody(const command_line& command);
// The same command, started with the process state `state` that
// careless_caller sets up before its exec.
command_line from_careless_caller(const std::string& state, const command_line& command);

struct run_result {
    bool exited = false;
    int status = -1;          // exit status, when exited
    int signal = 0;           // terminating signal, when killed by one
    bool hung = false;        // still running at the limit, and killed by the test
    long long elapsed_ms = 0; // from the start until the child ended
    std::string out;
    std::string err;
};

class child_process {
public:
    child_process(const command_line& command, const std::string& cwd, bool capture = true);
    ~child_process();
    child_process(const child_process&) = delete;
    child_process& operator=(const child_process&) = delete;

    run_result wait(int limit_ms = 20000);

private:
    int pid_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
    long long started_ms_ = 0;
};

run_result run(const command_line& command, const std::string& cwd, int limit_ms = 20000);

long long now_ms();
void sleep_ms(long ms);
