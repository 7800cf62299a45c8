#include "persist/animation_log.h"

#include <stdexcept>

#include "core/particles.h"
#include "util/file_output.h"

AnimationLog animationLog;

void resetAnimationLog() { animationLog = AnimationLog{}; }

static Vec3 velocityOf(int32_t p) {
    const ParticleMotion& m = sim.motion[static_cast<size_t>(p)];
    return {m.velX, m.velY, m.velZ};
}

static Vec3 positionOf(int32_t p) {
    const ParticleMotion& m = sim.motion[static_cast<size_t>(p)];
    return {m.posX, m.posY, m.posZ};
}

static std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\n\r");
    if (first == std::string::npos) return "";
    const auto last = text.find_last_not_of(" \t\n\r");
    return text.substr(first, last - first + 1);
}

void beginAnimationEntry(const Event& event) {
    AnimationEntry& e = animationLog.pending;
    e = AnimationEntry{};
    animationLog.eventCount += 1;
    e.index = static_cast<int32_t>(animationLog.eventCount);
    e.push = event.push;
    e.time = event.time;
    e.type = event.type;
    e.name = trimmed(eventTypeName(event.type));
    e.direction = event.dir;
    e.id1 = event.i;
    e.id2 = event.j;
    const auto i = static_cast<size_t>(event.i);
    e.v1Before = velocityOf(event.i);
    e.cellX1Before = sim.cellX[i];
    e.cellY1Before = sim.cellY[i];
    e.cellZ1Before = sim.cellZ[i];
    if (event.j != -1) e.v2Before = velocityOf(event.j);
}

void recordAnimationPositions(const Event& event) {
    AnimationEntry& e = animationLog.pending;
    e.p1 = positionOf(event.i);
    if (event.j != -1) e.p2 = positionOf(event.j);
}

void completeAnimationEntry(const Event& event) {
    AnimationEntry& e = animationLog.pending;
    const auto i = static_cast<size_t>(event.i);
    e.v1After = velocityOf(event.i);
    e.freePath1 = sim.freePath[i];
    e.freeTime1 = sim.freeTime[i];
    if (event.j != -1) {
        const auto j = static_cast<size_t>(event.j);
        e.v2After = velocityOf(event.j);
        e.freePath2 = sim.freePath[j];
        e.freeTime2 = sim.freeTime[j];
    }
    e.cellX1After = sim.cellX[i];
    e.cellY1After = sim.cellY[i];
    e.cellZ1After = sim.cellZ[i];
    const int32_t n = particleCount();
    e.positions.resize(static_cast<size_t>(n));
    e.velocities.resize(static_cast<size_t>(n));
    for (int32_t p = 0; p < n; ++p) {
        e.positions[static_cast<size_t>(p)] = positionOf(p);
        e.velocities[static_cast<size_t>(p)] = velocityOf(p);
    }
    animationLog.entries.push_back(std::move(e));
    e = AnimationEntry{};
}

static nlohmann::json vectorList(const std::vector<Vec3>& list) {
    nlohmann::json array = nlohmann::json::array();
    for (const Vec3& v : list) array.push_back({v.x, v.y, v.z});
    return array;
}

nlohmann::json animationEntryJson(const AnimationEntry& e) {
    nlohmann::json o = nlohmann::json::object();
    o["cellX1_after"] = e.cellX1After;
    o["cellY1_after"] = e.cellY1After;
    o["cellZ1_after"] = e.cellZ1After;
    o["cellX1_before"] = e.cellX1Before;
    o["cellY1_before"] = e.cellY1Before;
    o["cellZ1_before"] = e.cellZ1Before;
    o["direction"] = e.direction == NO_DIR ? nlohmann::json(nullptr) : nlohmann::json(e.direction);
    o["event_type"] = e.type;
    o["event_type_name"] = e.name;
    o["free_path_1"] = e.freePath1;
    o["free_path_2"] = e.freePath2;
    o["free_time_1"] = e.freeTime1;
    o["free_time_2"] = e.freeTime2;
    o["id1"] = e.id1;
    o["id2"] = e.id2;
    o["index"] = e.index;
    o["p1x"] = e.p1.x;
    o["p1y"] = e.p1.y;
    o["p1z"] = e.p1.z;
    o["p2x"] = e.p2.x;
    o["p2y"] = e.p2.y;
    o["p2z"] = e.p2.z;
    o["position"] = vectorList(e.positions);
    o["push_index"] = e.push;
    o["time"] = e.time;
    o["v1x_after"] = e.v1After.x;
    o["v1y_after"] = e.v1After.y;
    o["v1z_after"] = e.v1After.z;
    o["v1x_before"] = e.v1Before.x;
    o["v1y_before"] = e.v1Before.y;
    o["v1z_before"] = e.v1Before.z;
    o["v2x_after"] = e.v2After.x;
    o["v2y_after"] = e.v2After.y;
    o["v2z_after"] = e.v2After.z;
    o["v2x_before"] = e.v2Before.x;
    o["v2y_before"] = e.v2Before.y;
    o["v2z_before"] = e.v2Before.z;
    o["velocity"] = vectorList(e.velocities);
    return o;
}

// The array is written one entry at a time, each exactly as the whole array's
// pretty-printing (indent 2) would print it, so that the document tree of a long log
// never has to exist in memory at once.
static void writeEntries(std::ostream& out) {
    const auto& entries = animationLog.entries;
    if (entries.empty()) {
        out << "[]\n";
        return;
    }
    out << "[\n";
    for (size_t k = 0; k < entries.size(); ++k) {
        const std::string text = animationEntryJson(entries[k]).dump(2);
        out << "  ";
        for (char ch : text) {
            out.put(ch);
            if (ch == '\n') out << "  ";
        }
        out << (k + 1 < entries.size() ? ",\n" : "\n");
    }
    out << "]\n";
}

void writeAnimationLog() {
    const std::string path = solutionFolder + "/animation_entries.json";
    // A write that fails half-way throws with the path; the earlier file stays intact.
    if (!replaceFileAtomically(path, writeEntries)) throw std::runtime_error("Could not open file: " + path);
}
