#include "fifo_ends.hpp"

#include "files.hpp"

#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

fifo_reader::fifo_reader(const std::string& path) : fd_(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC))
{
    if (fd_ < 0)
        throw std::runtime_error("cannot open the read end of " + path);
}

fifo_reader::~fifo_reader()
{
    ::close(fd_);
}

std::string fifo_reader::take()
{
    std::string bytes = std::move(early_);
    early_.clear();
    return bytes + read_all(fd_);
}

bool fifo_reader::at_eof()
{
    char byte = 0;
    const ssize_t got = read(fd_, &byte, 1);
    if (got > 0)
        early_.push_back(byte);
    return got == 0;
}

fifo_filler::fifo_filler(const std::string& path) : fd_(open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC))
{
    if (fd_ < 0)
        throw std::runtime_error("cannot open the write end of " + path);
    const std::string block(4096, 'x');
    ssize_t put = 0;
    while ((put = write(fd_, block.data(), block.size())) > 0)
        queued_ += static_cast<std::size_t>(put);
    if (errno != EAGAIN)
        throw std::runtime_error("cannot fill " + path);
}

fifo_filler::~fifo_filler()
{
    close();
}

void fifo_filler::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}
