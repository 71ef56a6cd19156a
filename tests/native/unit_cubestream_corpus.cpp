// Replays the fuzzer's committed corpus through the parser's invariants on every test run.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../fuzz/stream_invariants.h"

namespace {

std::string corpusDirectory() {
    std::string here = __FILE__;
    return here.substr(0, here.rfind('/')) + "/../fuzz/corpus";
}

TEST(CubeStreamCorpus, EveryInputKeepsTheParserInvariants) {
    std::string directory = corpusDirectory();
    DIR* dir = opendir(directory.c_str());
    ASSERT_NE(nullptr, dir) << directory;
    int files = 0;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        std::ifstream file(directory + "/" + entry->d_name, std::ios::binary);
        std::vector<unsigned char> data((std::istreambuf_iterator<char>(file)),
                                        std::istreambuf_iterator<char>());
        EXPECT_EQ("", streamInvariantViolation(data.data(), data.size())) << entry->d_name;
        ++files;
    }
    closedir(dir);
    EXPECT_GE(files, 5) << "the seed corpus went missing from " << directory;
}

} // namespace
