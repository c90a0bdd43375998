// Delivery of one command to the music service through its control pipe.
#pragma once

// A command to the service: one character, zero-terminated. Only the
// character goes on the pipe.
using pipe_command = const char*;

inline constexpr pipe_command resume_command = "1";
inline constexpr pipe_command stop_command = "0";

// Fixed at build time.
extern const char control_pipe_path[];
extern const int control_pipe_timeout_ms;

// How one delivery ended. The client itself ignores it: no failure at the
// pipe is ever reported to the caller.
enum class delivery_result {
    delivered,
    no_deadline,  // the bound could not be set up, so the pipe was left alone
    open_failed,  // no pipe, or not ours to write
    timed_out,    // no reader came, or the pipe stayed full, within the bound
    not_a_fifo,   // something else stands at the path; it is left untouched
    write_failed, // the reader went away, or the write took nothing
};

// Opens `path` write-only, waits at most `timeout_ms` for the open and the
// write together, writes `command` only if the path is a FIFO, and closes it.
delivery_result deliver_pipe_command(const char* path, pipe_command command, int timeout_ms);

// The client's delivery: the built-in path and bound, result dropped.
void send_pipe_command(pipe_command command);
