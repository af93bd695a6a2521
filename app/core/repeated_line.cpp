#include "repeated_line.h"

namespace app {

bool write_repeated(RepeatedLine& place, std::FILE* out, const std::string& line, uint64_t now_ms) {
  uint64_t left_out = 0;
  {
    std::lock_guard<std::mutex> hold(place.mutex);
    if (place.written && now_ms - place.last_ms < kRepeatedLineIntervalMs) {
      ++place.left_out;
      return false;
    }
    place.written = true;
    place.last_ms = now_ms;
    left_out = place.left_out;
    place.left_out = 0;
  }
  if (left_out > 0) {
    const std::size_t close = line.find(']');
    const std::string tag = line[0] == '[' && close != std::string::npos ? line.substr(0, close + 1)
                                                                         : std::string("[ERR]");
    std::fprintf(out, "%s (%llu linhas semelhantes omitidas)\n", tag.c_str(),
                 static_cast<unsigned long long>(left_out));
  }
  std::fputs(line.c_str(), out);
  std::fflush(out);
  return true;
}

}  // namespace app
