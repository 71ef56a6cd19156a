// Replays the light fuzzer's committed seeds through its invariants on every test run.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../fuzz/light_invariants.h"

namespace {

TEST(LightPacketCorpus, EverySeedKeepsTheReceiversInvariants) {
    std::string here = __FILE__;
    std::string directory = here.substr(0, here.rfind('/')) + "/../fuzz/light-corpus";
    DIR* dir = opendir(directory.c_str());
    ASSERT_NE(nullptr, dir) << directory;
    int files = 0;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        std::ifstream file(directory + "/" + entry->d_name, std::ios::binary);
        std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(file)),
                                       std::istreambuf_iterator<char>());
        EXPECT_EQ("", parserViolation(data.data(), data.size()) +
                          lightInvariantViolation(data.data(), data.size()))
            << entry->d_name;
        ++files;
    }
    closedir(dir);
    EXPECT_GE(files, 10) << "the seeds went missing from " << directory;
}

} // namespace
