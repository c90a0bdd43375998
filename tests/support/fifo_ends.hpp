// The test's ends of a FIFO: a reader that never blocks, and a writer that
// fills the pipe to the brim, so that the next writer's write blocks.
#pragma once

#include <cstddef>
#include <string>

class fifo_reader {
public:
    explicit fifo_reader(const std::string& path);
    ~fifo_reader();
    fifo_reader(const fifo_reader&) = delete;
    fifo_reader& operator=(const fifo_reader&) = delete;

    // Everything the pipe holds now.
    std::string take();
    // After take(): whether no writer holds the pipe any more.
    bool at_eof();

private:
    int fd_ = -1;
    std::string early_; // bytes that came while at_eof() looked
};

class fifo_filler {
public:
    explicit fifo_filler(const std::string& path);
    ~fifo_filler();
    fifo_filler(const fifo_filler&) = delete;
    fifo_filler& operator=(const fifo_filler&) = delete;

    std::size_t queued() const { return queued_; }
    // Lets go of the write end before the filler goes out of scope.
    void close();

private:
    int fd_ = -1;
    std::size_t queued_ = 0;
};
