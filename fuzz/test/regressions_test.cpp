// Every input that ever found a fault, then the whole corpus, through the
// shipped hidapi (Debian's archive) instead of the fuzzer's own build.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "harness.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> files(const char *folder) {
    std::vector<std::string> out;
    for (const auto &entry : fs::directory_iterator(fs::path(FUZZ_DIR) / folder)) {
        if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') {
            out.push_back(entry.path().string());
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

void run_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    fuzz::run(bytes.data(), bytes.size());
}

class Regression : public ::testing::TestWithParam<std::string> {};

TEST_P(Regression, NoLongerFails) { EXPECT_NO_THROW(run_file(GetParam())) << GetParam(); }

INSTANTIATE_TEST_SUITE_P(Fuzz, Regression, ::testing::ValuesIn(files("regressions")),
                         [](const auto &info) {
                             std::string name = fs::path(info.param).stem().string();
                             std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
                             return name;
                         });

TEST(Corpus, EveryInputRunsClean) {
    const auto corpus = files("corpus");
    ASSERT_GT(corpus.size(), 20u);
    for (const auto &path : corpus) {
        EXPECT_NO_THROW(run_file(path)) << path;
    }
}

}  // namespace
