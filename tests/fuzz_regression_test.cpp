// Every file under tests/fuzz_regressions/<fuzz target>/ goes through that fuzzer's loader
// exactly as the fuzzer fed it (fuzz/fuzz_harness.h): inputs that once broke a loader, and
// hand-made hostile ones. Each must either load, leaving a state that keeps the loader's
// promises, or be refused with one line on standard error that names the file.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "fuzz/fuzz_harness.h"

namespace fuzzing {
// Names the target in gtest's messages instead of its bytes.
void PrintTo(Target target, std::ostream* out) { *out << targetName(target); }
}  // namespace fuzzing

namespace {

using fuzzing::Outcome;
using fuzzing::Target;

std::vector<std::filesystem::path> regressionInputs(Target target) {
    const std::filesystem::path folder = std::filesystem::path(HARDGAS_FUZZ_REGRESSIONS) / fuzzing::targetName(target);
    std::vector<std::filesystem::path> files(std::filesystem::directory_iterator(folder), {});
    std::sort(files.begin(), files.end());
    return files;
}

class FuzzRegressionTest : public ::testing::TestWithParam<Target> {};

TEST_P(FuzzRegressionTest, EveryInputLoadsOrIsRefusedWithOneLineNamingTheFile) {
    const Target target = GetParam();
    const auto files = regressionInputs(target);
    ASSERT_FALSE(files.empty()) << "no inputs for " << fuzzing::targetName(target);
    for (const auto& file : files) {
        SCOPED_TRACE(file.string());
        std::ifstream in(file, std::ios::binary);
        const std::string input{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        ::testing::internal::CaptureStderr();
        const fuzzing::LoadResult result =
            fuzzing::runLoader(target, reinterpret_cast<const uint8_t*>(input.data()), input.size());
        const std::string err = ::testing::internal::GetCapturedStderr();
        switch (result.outcome) {
            case Outcome::Loaded:
                EXPECT_EQ(err, "");
                EXPECT_EQ(fuzzing::loadedStateProblem(target), "");
                break;
            case Outcome::Refused: {
                ASSERT_FALSE(err.empty()) << "refused without a message";
                EXPECT_EQ(err.find('\n'), err.size() - 1) << "not exactly one line: " << err;
                // The count check of particles_config.json predates the file-naming messages;
                // program_test pins its wording.
                if (err == "num_molecules != len(particles)\n") break;
                const std::string name = std::filesystem::path(result.path).filename().string();
                EXPECT_NE(err.find(name), std::string::npos) << "does not name " << name << ": " << err;
                break;
            }
            case Outcome::Fatal:
                EXPECT_EQ(target, Target::Config) << "only config.json can ask for gravity";
                break;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Loaders, FuzzRegressionTest, ::testing::ValuesIn(fuzzing::ALL_TARGETS),
                         [](const ::testing::TestParamInfo<Target>& info) {
                             return std::string(fuzzing::targetName(info.param));
                         });

}  // namespace
