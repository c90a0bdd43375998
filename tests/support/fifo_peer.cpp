#include "fifo_peer.hpp"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/inotify.h>
#include <unistd.h>

fifo_reader::fifo_reader(const std::string& path) : fd_(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC))
{
    if (fd_ < 0)
        throw std::runtime_error("cannot open the read end of " + path);
}

fifo_reader::~fifo_reader()
{
    close(fd_);
}

std::string fifo_reader::take(bool* at_eof)
{
    std::string bytes;
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(fd_, buffer, sizeof buffer);
        if (got > 0) {
            bytes.append(buffer, static_cast<size_t>(got));
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && errno != EAGAIN)
            throw std::runtime_error("read from the pipe failed");
        if (at_eof != nullptr)
            *at_eof = got == 0;
        return bytes;
    }
}

open_watch::open_watch(const std::string& path) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
{
    if (fd_ < 0 || inotify_add_watch(fd_, path.c_str(), IN_OPEN) < 0)
        throw std::runtime_error("cannot watch " + path);
}

open_watch::~open_watch()
{
    close(fd_);
}

int open_watch::opens(int wait_ms)
{
    pollfd ready{fd_, POLLIN, 0};
    if (seen_ == 0 && wait_ms > 0)
        poll(&ready, 1, wait_ms);
    alignas(inotify_event) char buffer[4096];
    ssize_t got = 0;
    while ((got = read(fd_, buffer, sizeof buffer)) > 0)
        for (char* at = buffer; at < buffer + got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            seen_ += (event->mask & IN_OPEN) != 0 ? 1 : 0;
            at += sizeof(inotify_event) + event->len;
        }
    return seen_;
}
