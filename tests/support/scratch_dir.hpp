// A private folder for one test, removed with everything in it afterwards.
#pragma once

#include <filesystem>
#include <string>

class scratch_dir {
public:
    scratch_dir();
    ~scratch_dir();
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Small file helpers for what the tests leave at a path and find there.
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& content);
bool path_exists(const std::string& path);
bool is_fifo(const std::string& path);
// Waits up to 5 s for a FIFO to appear at `path`.
bool wait_for_fifo(const std::string& path);
int entries_in(const std::string& dir);

// What a file holds and when it last changed, to show it was left alone.
struct file_state {
    std::string content;
    std::filesystem::file_time_type modified;
    bool operator==(const file_state&) const = default;
};
file_state state_of(const std::string& path);
