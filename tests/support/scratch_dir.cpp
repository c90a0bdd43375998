#include "scratch_dir.hpp"

#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

scratch_dir::scratch_dir()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/fifo_client_1-test.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

scratch_dir::~scratch_dir()
{
    nftw(
        path_.c_str(), [](const char* entry, const struct stat*, int, FTW*) { return remove(entry); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

std::string read_file(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0)
        throw std::runtime_error("cannot open " + path);
    std::string content;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = read(fd, buffer, sizeof buffer)) > 0)
        content.append(buffer, static_cast<size_t>(got));
    close(fd);
    return content;
}

void write_file(const std::string& path, const std::string& content)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size()))
        throw std::runtime_error("cannot write " + path);
    close(fd);
}

bool path_exists(const std::string& path)
{
    struct stat status {};
    return lstat(path.c_str(), &status) == 0;
}

bool is_fifo(const std::string& path)
{
    struct stat status {};
    return lstat(path.c_str(), &status) == 0 && S_ISFIFO(status.st_mode);
}

bool wait_for_fifo(const std::string& path)
{
    for (int tries = 0; tries < 5000 && !is_fifo(path); ++tries)
        usleep(1000);
    return is_fifo(path);
}

int entries_in(const std::string& dir)
{
    DIR* listing = opendir(dir.c_str());
    if (listing == nullptr)
        return -1;
    int count = 0;
    while (const dirent* entry = readdir(listing))
        if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..")
            ++count;
    closedir(listing);
    return count;
}

file_state state_of(const std::string& path)
{
    return {read_file(path), std::filesystem::last_write_time(path)};
}
