// Names planted where a program writes its outputs: a symbolic link whose
// target must keep its bytes, and a FIFO without a reader. A late reader
// lets a writer that waits go, so the test fails on rescued() and not by hanging.
#pragma once

#include "file_bytes.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace testsupport {

// A link at path to a file beside it holding "keep"; returns the file's path.
inline std::string plantLink(const std::filesystem::path& path)
{
    const std::string target = path.string() + ".target";
    std::ofstream(target) << "keep";
    std::filesystem::create_symlink(std::filesystem::absolute(target), path);
    return target;
}

class PlantedFifo {
public:
    explicit PlantedFifo(std::filesystem::path path) : path_(std::move(path))
    {
        ::mkfifo(path_.c_str(), 0644);
        reader_ = std::thread([this] {
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
            while (!stop_ && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (stop_)
                return;
            const int fd = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK);
            rescued_ = true;
            char buffer[65536];
            for (pollfd p{fd, POLLIN, 0}; fd >= 0 && !stop_;)
                if (::poll(&p, 1, 50) > 0 && ::read(fd, buffer, sizeof buffer) < 0)
                    break;
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

    // A reader came, so a writer that had opened the FIFO waited for it.
    bool rescued() const { return rescued_; }

private:
    std::filesystem::path path_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> rescued_{false};
    std::thread reader_;
};

} // namespace testsupport
