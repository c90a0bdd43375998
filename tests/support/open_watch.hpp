// Counts how often anyone opens a file, through inotify.
#pragma once

#include <chrono>
#include <string>

class open_watch {
public:
    explicit open_watch(const std::string& path);
    ~open_watch();
    open_watch(const open_watch&) = delete;
    open_watch& operator=(const open_watch&) = delete;

    // Opens seen since the watch was made, waiting up to `wait` for a first.
    int opens(std::chrono::milliseconds wait = std::chrono::milliseconds(0));

private:
    int fd_ = -1;
    int seen_ = 0;
};
