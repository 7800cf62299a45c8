#include "stats/histogram.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iomanip>
#include <stdexcept>

#include "util/file_output.h"
#include "util/json_input.h"

Histogram::Histogram(double minValue, double maxValue, int32_t bins, BinType type)
    : numBins(static_cast<uint64_t>(bins)), binType(type) {
    if (minValue <= 0.0 && binType == BinType::Logarithmic) {
        throw std::invalid_argument("Logarithmic bins require positive minValue and maxValue.");
    }
    if (!(minValue < maxValue)) throw std::invalid_argument("minValue must be less than maxValue.");
    counts.assign(numBins, 0);
    values.assign(numBins, 0.0);
    widths.assign(numBins, 0.0);
    edges.assign(numBins + 1, 0.0);
    centers.assign(numBins, 0.0);
    const double n = static_cast<double>(numBins);
    if (binType == BinType::Linear) {
        // Each edge by multiplication: repeated addition would let the rounding drift.
        const double w = (maxValue - minValue) / n;
        for (uint64_t k = 0; k <= numBins; ++k) edges[k] = minValue + static_cast<double>(k) * w;
        for (uint64_t k = 0; k < numBins; ++k) centers[k] = 0.5 * (edges[k] + edges[k + 1]);
        guessOrigin = minValue;
        guessScale = 1.0 / w;
    } else if (binType == BinType::Logarithmic) {
        const double a = std::log10(minValue);
        const double s = (std::log10(maxValue) - a) / n;
        for (uint64_t k = 0; k <= numBins; ++k) edges[k] = std::pow(10.0, a + static_cast<double>(k) * s);
        for (uint64_t k = 0; k < numBins; ++k) centers[k] = std::sqrt(edges[k] * edges[k + 1]);
        // log2 is much cheaper than log10 and as good for a guess.
        guessOrigin = std::log2(minValue);
        guessScale = 1.0 / (s / std::log10(2.0));
    } else {
        return;
    }
    for (uint64_t k = 0; k < numBins; ++k) widths[k] = edges[k + 1] - edges[k];
}

// The bin b with edges[b] < x <= edges[b + 1]: the lower bound of x among the edges, less
// one. A profile pass looks up every particle, so instead of a binary search the bin is
// computed from the spacing and then moved until the edges agree, which also keeps the
// result exact for edges read from a file.
uint64_t Histogram::binOf(double x) const {
    if (std::isnan(x) || numBins == 0) return numBins;
    if (x <= edges.front()) return 0;
    if (x > edges.back()) return numBins - 1;
    const double position = binType == BinType::Logarithmic ? (std::log2(x) - guessOrigin) * guessScale
                                                            : (x - guessOrigin) * guessScale;
    const double last = static_cast<double>(numBins - 1);
    uint64_t b = position > 0.0 ? static_cast<uint64_t>(std::min(position, last)) : 0;  // also for a NaN guess
    while (b > 0 && x <= edges[b]) --b;
    while (b + 1 < numBins && x > edges[b + 1]) ++b;
    return b;
}

void Histogram::accumulate(double separator, double aggregator) {
    if (const uint64_t b = binOf(separator); b != numBins) {
        counts[b] += 1;
        values[b] += aggregator;
    }
}

void Histogram::add(const std::vector<double>& separators, const std::vector<double>& aggregators) {
    if (separators.size() != aggregators.size()) {
        throw std::invalid_argument("Separators and Aggregators must have the same size.");
    }
    for (size_t m = 0; m < separators.size(); ++m) accumulate(separators[m], aggregators[m]);
    num_instances += 1;
}

void Histogram::addOne(double separator, double aggregator) {
    accumulate(separator, aggregator);
    num_instances += 1;
}

void Histogram::reset() {
    num_instances = 0;
    std::fill(counts.begin(), counts.end(), 0);
    std::fill(values.begin(), values.end(), 0.0);
}

void Histogram::saveJson(const std::string& path) const {
    json file = json::object();
    file["num_instances"] = num_instances;
    file["edges"] = edges;
    file["centers"] = centers;
    file["counts"] = counts;
    file["values"] = values;
    file["widths"] = widths;
    // Replaced whole via a temporary file: a continued run reads the profiles back, so a
    // kill during the write must leave the previous version rather than half a file.
    if (!replaceFileAtomically(path, [&](std::ostream& out) { out << std::setw(4) << file; })) {
        throw std::runtime_error("Failed to open file for writing: " + path);
    }
}

template <typename T, typename Convert>
static void readList(const json& file, const char* key, size_t expected, std::vector<T>& target, Convert convert) {
    auto it = file.find(key);
    if (it == file.end()) return;
    if (!it->is_array()) {
        throw InputError("key \"" + std::string(key) + "\": type must be array, but is " + it->type_name());
    }
    if (it->size() != expected) {
        throw InputError("key \"" + std::string(key) + "\" holds " + std::to_string(it->size()) +
                         " values, but the configured bins need " + std::to_string(expected) +
                         " (was the file written with another profile_num_bins?)");
    }
    std::vector<T> list(expected);
    for (size_t k = 0; k < expected; ++k) list[k] = convert((*it)[k], std::string(key) + "[" + std::to_string(k) + "]");
    target = std::move(list);
}

void Histogram::loadJson(const std::string& path) {
    std::ifstream in(path);
    if (!in.is_open()) return;
    json file;
    try {
        file = json::parse(in);
    } catch (const json::exception& e) {
        throw InputError(std::string("not valid JSON: ") + e.what());
    }
    if (!file.is_object()) throw InputError("the top level must be a JSON object");
    // Everything is checked before anything is replaced, so a refused file leaves the
    // accumulator as it was.
    Histogram loaded = *this;
    if (auto it = file.find("num_instances"); it != file.end()) loaded.num_instances = asUint64(*it, "num_instances");
    readList(file, "edges", numBins + 1, loaded.edges, asDouble);
    readList(file, "centers", numBins, loaded.centers, asDouble);
    readList(file, "counts", numBins, loaded.counts, asUint64);
    readList(file, "values", numBins, loaded.values, asDouble);
    readList(file, "widths", numBins, loaded.widths, asDouble);
    if (!std::is_sorted(loaded.edges.begin(), loaded.edges.end())) {
        throw InputError("key \"edges\" must be in increasing order");
    }
    *this = std::move(loaded);
}
