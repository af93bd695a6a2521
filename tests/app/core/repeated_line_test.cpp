#include "core/repeated_line.h"

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

namespace {

std::string written(std::FILE* f) {
  std::rewind(f);
  std::string text;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, f)) text += buffer;
  return text;
}

// A flood of one line becomes one line a second, the next carrying the count left out, and
// each place keeps its own second.
TEST(RepeatedLine, OneLineASecondPerPlaceWithTheCountLeftOut) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  app::RepeatedLine exec, merge;
  EXPECT_TRUE(app::write_repeated(exec, out, "[REDIS] exec falhou: down\n", 5000));
  for (uint64_t t = 5100; t < 6000; t += 100)
    EXPECT_FALSE(app::write_repeated(exec, out, "[REDIS] exec falhou: down\n", t));
  EXPECT_TRUE(app::write_repeated(merge, out, "[REDIS] erro set_json_merge_paths: down\n", 5500));
  EXPECT_TRUE(app::write_repeated(exec, out, "[REDIS] exec falhou: still\n", 6000));
  EXPECT_FALSE(app::write_repeated(exec, out, "[REDIS] exec falhou: still\n", 6999));
  EXPECT_TRUE(app::write_repeated(exec, out, "[REDIS] exec falhou: again\n", 9000));
  EXPECT_EQ(written(out),
            "[REDIS] exec falhou: down\n"
            "[REDIS] erro set_json_merge_paths: down\n"
            "[REDIS] (9 linhas semelhantes omitidas)\n"
            "[REDIS] exec falhou: still\n"
            "[REDIS] (1 linhas semelhantes omitidas)\n"
            "[REDIS] exec falhou: again\n");
  std::fclose(out);
}

}  // namespace
