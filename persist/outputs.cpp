#include "persist/outputs.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <system_error>

#include "stats/collision_stats.h"
#include "util/file_output.h"
#include "util/format.h"

// velocity_x.bin, velocity_z.bin and the per-species velocity_x0.bin, velocity_z1.bin, ...
// (by hand: GCC 12 warns inside <regex> itself in the sanitizer build).
static bool isVelocitySampleName(const std::string& name) {
    const std::string head = "velocity_", tail = ".bin";
    if (name.size() < head.size() + 1 + tail.size() || !name.starts_with(head) || !name.ends_with(tail)) return false;
    const char axis = name[head.size()];
    const std::string species = name.substr(head.size() + 1, name.size() - head.size() - 1 - tail.size());
    return (axis == 'x' || axis == 'z') &&
           std::all_of(species.begin(), species.end(), [](char c) { return c >= '0' && c <= '9'; });
}

static bool exists(const std::string& name) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(solutionFolder + "/" + name, ec));
}

static std::vector<std::string> fixedAppendedNames() {
    std::vector<std::string> names = {"state.bin", "collision_angle.bin", "pca.bin", "species_temperature.bin",
                                      "thermo.csv"};
    for (const char* name : {"free_path.bin", "free_time.bin", "free_path_1_percent.bin"}) {
        names.push_back(std::string("free/") + name);
    }
    for (const char* name : {"collision_velocity.bin", "collision_velocity00.bin", "collision_velocity11.bin",
                             "collision_velocity01.bin", "particle_collision_velocity.bin",
                             "particle_collision_velocity0.bin", "particle_collision_velocity1.bin"}) {
        names.push_back(std::string("velocity/") + name);
    }
    return names;
}

// Names read from resume.json are used only when they are names of outputs: the file is not
// to be trusted with paths.
static bool isAppendedName(const std::string& name) {
    const std::vector<std::string> fixed = fixedAppendedNames();
    if (std::find(fixed.begin(), fixed.end(), name) != fixed.end()) return true;
    return name.starts_with("velocity/") && isVelocitySampleName(name.substr(9));
}

std::vector<std::string> appendedOutputs() {
    std::vector<std::string> names = fixedAppendedNames();
    std::vector<std::string> velocityFiles;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(solutionFolder + "/velocity", ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (isVelocitySampleName(name)) velocityFiles.push_back("velocity/" + name);
    }
    std::sort(velocityFiles.begin(), velocityFiles.end());
    names.insert(names.end(), velocityFiles.begin(), velocityFiles.end());
    std::erase_if(names, [](const std::string& name) { return !exists(name); });
    return names;
}

// The files replaced whole that a continued run reads back or that hold the series' counts.
static std::vector<std::string> replacedOutputs() {
    std::vector<std::string> names = {"state.json"};
    for (const std::string& name : cumulativeOutputNames()) names.push_back(name.substr(1));
    return names;
}

static std::optional<std::string> fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

static uint64_t fileBytes(const std::string& path) {
    std::error_code ec;
    const uintmax_t size = std::filesystem::file_size(path, ec);
    return ec ? 0 : static_cast<uint64_t>(size);
}

json outputsAtRestartPoint() {
    json appended = json::object();
    for (const std::string& name : appendedOutputs()) appended[name] = fileBytes(solutionFolder + "/" + name);
    json replaced = json::object();
    for (const std::string& name : replacedOutputs()) {
        const std::optional<std::string> text = fileText(solutionFolder + "/" + name);
        replaced[name] = text ? json(*text) : json(nullptr);
    }
    return {{"appended", appended}, {"replaced", replaced}};
}

static void removeFile(const std::string& name, const char* why) {
    const std::string path = solutionFolder + "/" + name;
    std::error_code ec;
    if (!std::filesystem::remove(path, ec) || ec) throw std::runtime_error("Failed to remove " + path + ": " + ec.message());
    std::cout << RED << "Removed " << path << ": " << why << "\n" << RESET;
}

static void restoreAppended(const json& appended) {
    for (const std::string& name : appendedOutputs()) {
        // Only files: anything else in an output's place is left for the write to complain about.
        std::error_code ec;
        if (std::filesystem::is_directory(std::filesystem::symlink_status(solutionFolder + "/" + name, ec))) continue;
        if (!appended.contains(name)) removeFile(name, "written after the restart point");
    }
    for (const auto& [name, value] : appended.items()) {
        const std::string path = solutionFolder + "/" + name;
        const uint64_t recorded = asUint64(value, "outputs.appended." + name);
        const uint64_t bytes = exists(name) ? fileBytes(path) : 0;
        if (bytes > recorded) {
            std::error_code ec;
            std::filesystem::resize_file(path, recorded, ec);
            if (ec) throw std::runtime_error("Failed to cut " + path + " back to the restart point: " + ec.message());
            std::cout << RED << "Removed the last " << formatThousands(bytes - recorded) << " bytes of " << path
                      << ": written after the restart point\n"
                      << RESET;
        } else if (bytes < recorded) {
            std::cerr << "Warning: " << path << " holds " << bytes << " bytes, but held " << recorded
                      << " at the restart point; the samples it lacks are lost, and the run appends after them.\n";
        }
    }
}

static void restoreReplaced(const json& replaced) {
    for (const auto& [name, value] : replaced.items()) {
        const std::string path = solutionFolder + "/" + name;
        const std::optional<std::string> now = fileText(path);
        if (value.is_null()) {
            if (exists(name)) removeFile(name, "written after the restart point");
            continue;
        }
        const std::string text = asString(value, "outputs.replaced." + name);
        if (now == text) continue;
        if (!replaceFileAtomically(path, [&](std::ostream& out) { out << text; })) {
            throw std::runtime_error("Failed to open file for writing: " + path);
        }
        std::cout << RED << "Restored " << path << " to the restart point\n" << RESET;
    }
}

// Every file that is written through a temporary file beside it.
static void removeInterruptedWrites(const json& replaced) {
    std::vector<std::string> names = {"last_state.json", "resume.json", "summary.json"};
    for (const auto& item : replaced.items()) names.push_back(item.key());
    for (const std::string& name : names) {
        if (exists(name + ".tmp")) removeFile(name + ".tmp", "left by a write that was interrupted");
    }
}

// The whole record is checked before the first file is touched.
static void checkRecord(const json& appended, const json& replaced) {
    if (!appended.is_object() || !replaced.is_object()) {
        throw InputError("keys \"outputs.appended\" and \"outputs.replaced\" must be objects");
    }
    for (const auto& [name, value] : appended.items()) {
        if (!isAppendedName(name)) throw InputError("key \"outputs.appended\" names \"" + name + "\", which is no output");
        asUint64(value, "outputs.appended." + name);
    }
    const std::vector<std::string> known = replacedOutputs();
    for (const auto& [name, value] : replaced.items()) {
        if (std::find(known.begin(), known.end(), name) == known.end()) {
            throw InputError("key \"outputs.replaced\" names \"" + name + "\", which is no output of this run");
        }
        if (!value.is_null()) asString(value, "outputs.replaced." + name);
    }
}

void checkRecordedOutputs(const json& outputs) {
    checkRecord(requireKey(outputs, "appended", "outputs.appended"), requireKey(outputs, "replaced", "outputs.replaced"));
}

void restoreOutputsToRestartPoint(const json& outputs) {
    checkRecordedOutputs(outputs);
    const json& appended = outputs["appended"];
    const json& replaced = outputs["replaced"];
    removeInterruptedWrites(replaced);
    restoreAppended(appended);
    restoreReplaced(replaced);
}
