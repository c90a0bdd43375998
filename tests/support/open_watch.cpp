#include "open_watch.hpp"

#include <poll.h>
#include <stdexcept>
#include <sys/inotify.h>
#include <unistd.h>

open_watch::open_watch(const std::string& path) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
{
    if (fd_ < 0 || inotify_add_watch(fd_, path.c_str(), IN_OPEN | IN_CLOSE_WRITE) < 0)
        throw std::runtime_error("cannot watch " + path);
}

open_watch::~open_watch()
{
    close(fd_);
}

int open_watch::opens(std::chrono::milliseconds wait)
{
    pollfd ready{fd_, POLLIN, 0};
    if (opens_ == 0 && wait.count() > 0)
        poll(&ready, 1, static_cast<int>(wait.count()));
    take_events();
    return opens_;
}

int open_watch::write_closes()
{
    take_events();
    return write_closes_;
}

void open_watch::take_events()
{
    alignas(inotify_event) char buffer[4096];
    ssize_t got = 0;
    while ((got = read(fd_, buffer, sizeof buffer)) > 0)
        for (const char* at = buffer; at < buffer + got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            opens_ += (event->mask & IN_OPEN) != 0 ? 1 : 0;
            write_closes_ += (event->mask & IN_CLOSE_WRITE) != 0 ? 1 : 0;
            at += sizeof(inotify_event) + event->len;
        }
}
