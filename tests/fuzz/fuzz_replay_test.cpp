// Every input that once made a fuzz target fail, replayed through the same
// entry in the ordinary build: tests/fuzz/regressions/<target>/<file>.

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fuzz_entries.hpp"

namespace tess::fuzz {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> read_bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(FuzzRegressions, EveryStoredInputPassesItsTarget) {
  const fs::path root = TESS_FUZZ_REGRESSIONS_DIR;
  std::size_t replayed = 0;
  for (const FuzzTarget& target : fuzz_targets()) {
    // The empty input and a lone byte reach every entry's first refusal.
    for (const std::vector<std::uint8_t>& tiny : {std::vector<std::uint8_t>{}, std::vector<std::uint8_t>{0x41}})
      EXPECT_EQ(target.entry(tiny.data(), tiny.size()), 0) << target.name;

    const fs::path folder = root / target.name;
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) continue;
    std::vector<fs::path> files;
    for (const auto& item : fs::directory_iterator(folder)) files.push_back(item.path());
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
      const std::vector<std::uint8_t> bytes = read_bytes(file);
      SCOPED_TRACE(file.string());
      EXPECT_EQ(target.entry(bytes.data(), bytes.size()), 0);
      ++replayed;
    }
  }
  // A folder named after no target would never be replayed.
  for (const auto& item : fs::directory_iterator(root)) {
    if (!item.is_directory()) continue;
    const std::string name = item.path().filename().string();
    EXPECT_TRUE(std::any_of(fuzz_targets().begin(), fuzz_targets().end(),
                            [&](const FuzzTarget& t) { return t.name == name; }))
        << "no fuzz target is called " << name;
  }
  RecordProperty("replayed", static_cast<int>(replayed));
}

}  // namespace
}  // namespace tess::fuzz
