#include "persist/file_output.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

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
    std::error_code ec;
    std::filesystem::rename(temporary, path, ec);
    if (ec) {
        std::remove(temporary.c_str());
        throw std::runtime_error("Failed to replace file " + path + ": " + ec.message());
    }
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
