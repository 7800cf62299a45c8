#include "util/file_output.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

std::string solutionFolder = "temp";

// Asks the kernel to put the file's (or folder's) data on the disk; without it, a power cut
// shortly after a rename can leave the new name pointing at an empty file.
static void syncToDisk(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

bool replaceFileAtomically(const std::string& path, const std::function<void(std::ostream&)>& write) {
    const std::string temporary = path + ".tmp";
    std::ofstream out(temporary, std::ios::out | std::ios::trunc);
    if (!out.is_open()) return false;
    write(out);
    out.flush();
    const bool written = static_cast<bool>(out);
    out.close();
    if (!written || out.fail()) {
        std::remove(temporary.c_str());
        throw std::runtime_error("Failed to write file (is the disk full?): " + path);
    }
    syncToDisk(temporary);
    std::error_code ec;
    std::filesystem::rename(temporary, path, ec);
    if (ec) {
        std::remove(temporary.c_str());
        throw std::runtime_error("Failed to replace file " + path + ": " + ec.message());
    }
    const std::string folder = std::filesystem::path(path).parent_path().string();
    syncToDisk(folder.empty() ? "." : folder);
    return true;
}

bool appendBinary(const std::string& path, const std::function<void(std::ostream&)>& write) {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    if (!out.is_open()) return false;
    std::error_code ec;
    const auto sizeBefore = std::filesystem::file_size(path, ec);
    write(out);
    out.flush();
    const bool written = static_cast<bool>(out);
    out.close();
    if (!written || out.fail()) {
        if (!ec) std::filesystem::resize_file(path, sizeBefore, ec);
        throw std::runtime_error("Failed to write file (is the disk full?): " + path);
    }
    return true;
}
