// Runs a fuzz target without libFuzzer over files and folders of inputs
// (the seed corpus and the inputs that once crashed it), so the normal
// test suite, with or without the sanitizers, replays every one of them.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  int count = 0;
  for (int i = 1; i < argc; ++i) {
    if (!fs::exists(argv[i])) continue;  // a target with no regression inputs yet
    std::vector<fs::path> files;
    if (fs::is_directory(argv[i])) {
      for (const auto& entry : fs::directory_iterator(argv[i]))
        if (entry.is_regular_file()) files.push_back(entry.path());
    } else {
      files.push_back(argv[i]);
    }
    for (const fs::path& file : files) {
      std::ifstream in(file, std::ios::binary);
      const std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)),
                                           std::istreambuf_iterator<char>());
      LLVMFuzzerTestOneInput(data.data(), data.size());
      ++count;
    }
  }
  std::printf("%d inputs replayed\n", count);
  return count > 0 ? 0 : 1;  // no input at all means a wrong path
}
