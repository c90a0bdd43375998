// Counts how often anyone opens a file, and closes it after opening it for
// writing, through inotify. Both are counted since inotify merges identical
// events that queue back to back.
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
    // Closes of a descriptor opened for writing, seen since the watch was made.
    int write_closes();

private:
    void take_events();

    int fd_ = -1;
    int opens_ = 0;
    int write_closes_ = 0;
};
