// Delivery of one command to the music service through its control pipe.
#pragma once

#include <string_view>

// A command to the service: one character of a zero-terminated text. Only
// the character goes on the pipe. Its length is measured when the program
// is compiled, not at every delivery.
using pipe_command = std::string_view;

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
    not_a_fifo,   // something else stands at the path; nothing was written to it
    reader_left,  // every reader went away before the write, none came back
    write_failed, // the write took nothing
};

// Writes `command` into the FIFO at `path`, opened write-only, waiting at
// most `timeout_ms` in all. A path with no FIFO fails at once. Writes
// nothing but a FIFO found at the path (and with /proc usable opens nothing
// else). While it waits it looks at the path at every tick and turns to a
// FIFO made anew there; when the reader leaves before the write, it
// delivers to the next one within the bound.
delivery_result deliver_pipe_command(const char* path, pipe_command command, int timeout_ms);

// The client's delivery: the built-in path and bound, result dropped.
void send_pipe_command(pipe_command command);
