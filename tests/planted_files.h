// Names planted where a program writes its outputs: a symbolic link to a
// file that must keep its bytes, and a FIFO without a reader, whose writer
// would wait for one for good. A reader comes after a while and drains it,
// so that a writer that does wait is let go: the test then fails on
// rescued(), instead of hanging.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace testsupport {

// A symbolic link at path to a file beside it holding "keep"; returns the
// file's path.
inline std::string plantLink(const std::filesystem::path& path)
{
    const std::string target = path.string() + ".target";
    std::ofstream(target) << "keep";
    std::filesystem::create_symlink(std::filesystem::absolute(target), path);
    return target;
}

inline std::string fileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class PlantedFifo {
public:
    explicit PlantedFifo(std::filesystem::path path, std::chrono::milliseconds delay = std::chrono::seconds(3))
        : path_(std::move(path))
    {
        ::mkfifo(path_.c_str(), 0644);
        reader_ = std::thread([this, delay] {
            const auto until = std::chrono::steady_clock::now() + delay;
            while (!stop_ && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (stop_)
                return;
            const int fd = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK);
            rescued_ = true;
            char buffer[65536];
            while (fd >= 0 && !stop_) {
                pollfd p{fd, POLLIN, 0};
                if (::poll(&p, 1, 50) > 0 && ::read(fd, buffer, sizeof buffer) < 0)
                    break;
            }
            if (fd >= 0)
                ::close(fd);
        });
    }
    ~PlantedFifo()
    {
        stop_ = true;
        reader_.join();
        std::filesystem::remove(path_);
    }
    PlantedFifo(const PlantedFifo&) = delete;
    PlantedFifo& operator=(const PlantedFifo&) = delete;

    // A reader came: whoever opened the FIFO for writing before was let go
    // only then.
    bool rescued() const { return rescued_; }

private:
    std::filesystem::path path_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> rescued_{false};
    std::thread reader_;
};

} // namespace testsupport
