// Delivery of one command to the music service through its control pipe.
#pragma once

#include <string_view>

// A command to the service: one character, which alone goes on the pipe.
using pipe_command = std::string_view;

inline constexpr pipe_command resume_command = "1";
inline constexpr pipe_command stop_command = "0";

// Fixed at build time.
extern const char control_pipe_path[];
extern const int control_pipe_timeout_ms;

enum class delivery_result {
    delivered, // the command is in the pipe
    no_fifo,   // no FIFO at the path when the call began; nothing was opened
    refused,   // the FIFO would not take it: no permission, or the write failed
    gave_up,   // no reader took it before the deadline (or no bound could be set)
};

// The handler that lets the writer's timer end a blocked call. The program
// installs it before anything else, so that from then on a SIGALRM from
// outside never kills it.
void install_tick_handler();

// Writes `command` into the FIFO at `path`, waiting at most `timeout_ms`
// for a reader, following a FIFO the service makes anew meanwhile. Needs
// install_tick_handler() first, and SIGPIPE ignored.
delivery_result deliver_pipe_command(const char* path, pipe_command command, int timeout_ms);

// The client's delivery: the built-in path and bound. Nothing is reported.
void send_pipe_command(pipe_command command);
