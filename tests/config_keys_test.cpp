// The README's tables of config.json and alter.json keys against the key table that the
// loaders work from: every key listed with its type, default and alter.json mark, and the
// alter.json keys in the order in which they take effect.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/config.h"

namespace {

std::vector<std::string> readmeLines() {
    std::ifstream in(HARDGAS_README);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> cells(const std::string& row) {
    std::vector<std::string> out;
    std::stringstream in(row.substr(1));
    for (std::string cell; std::getline(in, cell, '|');) out.push_back(cell.substr(1, cell.size() - 2));
    return out;
}

std::vector<std::string> backticked(const std::string& text) {
    std::vector<std::string> names;
    const std::regex name("`([a-z_]+)`");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), name); it != std::sregex_iterator(); ++it) {
        names.push_back((*it)[1]);
    }
    return names;
}

// The rows of the table whose header row starts with `header`.
std::vector<std::string> tableRows(const std::vector<std::string>& lines, const std::string& header) {
    auto it = std::find_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(header, 0) == 0; });
    std::vector<std::string> rows;
    for (it += it == lines.end() ? 0 : 2; it != lines.end() && it->rfind("|", 0) == 0; ++it) rows.push_back(*it);
    return rows;
}

struct Documented {
    std::string type, defaultText;
    bool alter = false;
};

std::string expectedDefault(const ConfigKey& key) {
    if (key.required) return "required";
    if (key.defaultText != nullptr) return key.defaultText;
    const SimulationConfig defaults;
    return std::visit(
        [&](auto field) -> std::string {
            const auto value = defaults.*field;
            using T = std::remove_cv_t<decltype(value)>;
            if constexpr (std::is_same_v<T, bool>) return value ? "true" : "false";
            if constexpr (std::is_same_v<T, double>) {
                std::ostringstream text;
                text << value;
                return value == static_cast<int64_t>(value) ? text.str() + ".0" : text.str();
            }
            if constexpr (std::is_integral_v<T>) return std::to_string(value);
            return "?";
        },
        key.field);
}

const char* typeName(const ConfigField& field) {
    static const char* const names[] = {"bool", "int", "uint64", "double", "string"};
    return names[field.index()];
}

TEST(ConfigKeysTest, ReadmeListsEveryKeyAsTheTableDefinesIt) {
    std::map<std::string, Documented> documented;
    for (const std::string& row : tableRows(readmeLines(), "| Key | Type | Default | Meaning |")) {
        const std::vector<std::string> c = cells(row);
        ASSERT_EQ(c.size(), 4u) << row;
        const std::vector<std::string> names = backticked(c[0]);
        std::vector<std::string> defaults{c[2]};
        if (names.size() > 1 && c[2].find(", ") != std::string::npos) defaults = {c[2].substr(0, c[2].find(", ")),
                                                                                 c[2].substr(c[2].find(", ") + 2)};
        for (size_t k = 0; k < names.size(); ++k) {
            documented[names[k]] = {c[1], defaults[std::min(k, defaults.size() - 1)],
                                    c[3].ends_with("alter.json")};
        }
    }
    EXPECT_EQ(documented.size(), configKeys().size());
    for (const ConfigKey& key : configKeys()) {
        SCOPED_TRACE(key.name);
        ASSERT_TRUE(documented.count(key.name));
        const Documented& d = documented[key.name];
        EXPECT_EQ(d.type, typeName(key.field));
        EXPECT_EQ(d.defaultText, expectedDefault(key));
        EXPECT_EQ(d.alter, key.alterOrder > 0);
    }
}

TEST(ConfigKeysTest, ReadmeListsTheAlterKeysInTheOrderTheyTakeEffect) {
    std::vector<std::string> listed;
    for (const std::string& row : tableRows(readmeLines(), "| Key | Effect |")) {
        for (const std::string& name : backticked(cells(row)[0])) listed.push_back(name);
    }
    std::vector<const ConfigKey*> alterable;
    for (const ConfigKey& key : configKeys()) {
        if (key.alterOrder > 0) alterable.push_back(&key);
    }
    std::sort(alterable.begin(), alterable.end(),
              [](const ConfigKey* a, const ConfigKey* b) { return a->alterOrder < b->alterOrder; });
    std::vector<std::string> expected;
    for (const ConfigKey* key : alterable) {
        // stop and reset_stats come between the snapshot keys and purge_queue_above.
        if (key->alterOrder == 13) expected.insert(expected.end(), {"stop", "reset_stats"});
        expected.push_back(key->name);
    }
    EXPECT_EQ(listed, expected);
}

}  // namespace
