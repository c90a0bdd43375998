// What the tests leave at a path and find there, and what a descriptor holds.
#pragma once

#include <filesystem>
#include <string>

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& content);
// Everything `fd` has from its current offset: up to end-of-file, or until a
// non-blocking descriptor has nothing more for now.
std::string read_all(int fd);

bool is_fifo(const std::string& path);
// Waits up to 5 s for a FIFO to appear at `path`.
bool wait_for_fifo(const std::string& path);
long entries_in(const std::string& dir);

// What a file holds and when it last changed, to show it was left alone.
struct file_state {
    std::string content;
    std::filesystem::file_time_type modified;
    bool operator==(const file_state&) const = default;
};
file_state state_of(const std::string& path);
