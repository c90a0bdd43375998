// The test's side of a FIFO: a read end that never blocks, and a watch that
// counts how often anyone opens the pipe.
#pragma once

#include <string>

class fifo_reader {
public:
    explicit fifo_reader(const std::string& path);
    ~fifo_reader();
    fifo_reader(const fifo_reader&) = delete;
    fifo_reader& operator=(const fifo_reader&) = delete;

    // Everything the pipe holds now. Sets `at_eof` when no writer is left.
    std::string take(bool* at_eof = nullptr);

private:
    int fd_ = -1;
};

class open_watch {
public:
    explicit open_watch(const std::string& path);
    ~open_watch();
    open_watch(const open_watch&) = delete;
    open_watch& operator=(const open_watch&) = delete;

    // Opens seen since the watch was made, waiting up to `wait_ms` for one.
    int opens(int wait_ms = 0);

private:
    int fd_ = -1;
    int seen_ = 0;
};
