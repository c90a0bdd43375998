#include "scratch_dir.hpp"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>

scratch_dir::scratch_dir()
{
    // mkdtemp: std::filesystem has no way to make a folder of a fresh name.
    std::string pattern = (std::filesystem::temp_directory_path() / "fifo_client_1-test.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot make a scratch folder from " + pattern);
    path_ = pattern;
}

scratch_dir::~scratch_dir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}
