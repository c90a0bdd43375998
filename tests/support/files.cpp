#include "files.hpp"

#include <cerrno>
#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>
#include <unistd.h>

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot open " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!(out << content) || !out.flush())
        throw std::runtime_error("cannot write " + path);
}

std::string read_all(int fd)
{
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got > 0)
            text.append(buffer, static_cast<size_t>(got));
        else if (got == 0 || errno == EAGAIN)
            return text;
        else if (errno != EINTR)
            throw std::runtime_error("read failed");
    }
}

bool is_fifo(const std::string& path)
{
    std::error_code missing;
    return std::filesystem::is_fifo(std::filesystem::symlink_status(path, missing));
}

bool wait_for_fifo(const std::string& path)
{
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!is_fifo(path) && std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return is_fifo(path);
}

long entries_in(const std::string& dir)
{
    const std::filesystem::directory_iterator listing(dir);
    return std::distance(begin(listing), end(listing));
}

file_state state_of(const std::string& path)
{
    return {read_file(path), std::filesystem::last_write_time(path)};
}
