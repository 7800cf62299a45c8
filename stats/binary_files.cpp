#include "stats/binary_files.h"

#include <bit>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <stdexcept>
#include <system_error>

#include "util/file_output.h"

static_assert(std::endian::native == std::endian::little, "sample files are written in little-endian byte order");

void ensureDirectory(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) return;
    std::filesystem::create_directories(path, ec);
    if (ec) {
        std::cerr << "Failed to create " << std::quoted(path) << " : " << ec.message() << std::endl;
        return;
    }
    std::cout << "Created " << std::quoted(path) << std::endl;
}

bool appendDoubles(const std::string& path, const double* values, size_t count) {
    return appendBinary(path, [&](std::ostream& out) {
        out.write(reinterpret_cast<const char*>(values), static_cast<std::streamsize>(count * sizeof(double)));
    });
}

void writeArrayFile(const std::vector<double>& values, const std::string& folder, const std::string& subfolder,
                    const std::string& fileName) {
    std::string path = folder + "/" + fileName;
    if (!subfolder.empty()) {
        const std::string directory = folder + (subfolder.front() == '/' ? "" : "/") + subfolder;
        ensureDirectory(directory);
        path = directory + "/" + fileName;
    }
    if (!appendDoubles(path, values.data(), values.size())) {
        std::cerr << "Error: cannot open file: " << path << "\n";
        throw std::runtime_error("Failed to open file: " + path);
    }
}

void appendAndClearArrayFile(std::vector<double>& values, const std::string& folder, const std::string& subfolder,
                             const std::string& fileName) {
    if (values.empty()) return;
    writeArrayFile(values, folder, subfolder, fileName);
    values.clear();
}
