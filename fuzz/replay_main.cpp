/*
 * Runs a fuzz target over the files of its corpus without libFuzzer, so
 * that every test build (GCC, the sanitizer builds) replays the inputs the
 * fuzzer kept. Each file named on the command line, and each file of each
 * folder named, is handed to the target once, in name order. A broken
 * invariant traps, which fails the test.
 */
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    std::vector<fs::path> files;
    std::error_code error;
    if (fs::is_directory(argv[i], error)) {
      for (const auto& entry : fs::directory_iterator(argv[i], error))
        if (entry.is_regular_file())
          files.push_back(entry.path());
      std::sort(files.begin(), files.end());
    } else {
      files.push_back(argv[i]);
    }
    for (const auto& file : files) {
      std::ifstream in(file, std::ios::binary);
      if (!in) {
        fprintf(stderr, "%s: cannot be read\n", file.c_str());
        return 1;
      }
      std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                 std::istreambuf_iterator<char>()};
      // The fuzzer never hands over a null pointer, not even for no bytes.
      static const uint8_t kNoBytes = 0;
      LLVMFuzzerTestOneInput(bytes.empty() ? &kNoBytes : bytes.data(), bytes.size());
      ++replayed;
    }
  }
  printf("%zu inputs replayed\n", replayed);
  return replayed == 0 ? 1 : 0;
}
