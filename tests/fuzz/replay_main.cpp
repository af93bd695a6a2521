// Without libFuzzer, a fuzz target runs the inputs it is given (files, or every file of the
// given directories) once each: its seed corpus and the inputs that once made it fail.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

void run_file(const std::filesystem::path& path, std::size_t& count) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
  // An exact-size heap copy, so a sanitizer sees any read past the input.
  std::vector<uint8_t> input(bytes);
  LLVMFuzzerTestOneInput(input.empty() ? nullptr : input.data(), input.size());
  ++count;
}

}  // namespace

int main(int argc, char** argv) {
  LLVMFuzzerInitialize(&argc, &argv);
  std::size_t count = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path path(argv[i]);
    if (std::filesystem::is_directory(path)) {
      for (const auto& entry : std::filesystem::directory_iterator(path))
        if (entry.is_regular_file()) run_file(entry.path(), count);
    } else {
      run_file(path, count);
    }
  }
  if (count == 0) {
    std::fprintf(stderr, "no inputs given\n");
    return 1;
  }
  std::printf("%zu inputs ran\n", count);
  return 0;
}
