#include "support/GoldenTexts.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>

namespace closewright::testing {
namespace {

std::filesystem::path GoldenPath(const std::string& name) {
  return std::filesystem::path(CLOSEWRIGHT_SOURCE_DIR) / "tests" / "golden" / name;
}

std::string Marker(std::size_t number) {
  return "=== " + std::to_string(number) + " ===\n";
}

bool UpdateRequested() {
  const char* update = std::getenv("CLOSEWRIGHT_UPDATE_GOLDEN");
  return update != nullptr && std::string_view(update) == "1";
}

void Write(const std::filesystem::path& path, const std::vector<std::string>& sent) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << "# The texts one call sends, each after its marker line; see tests/support/GoldenTexts.h.\n";
  for (std::size_t i = 0; i < sent.size(); ++i) out << Marker(i + 1) << sent[i] << '\n';
  if (!out) ADD_FAILURE() << "cannot write " << path;
}

}  // namespace

std::vector<std::string> GoldenTexts(const std::string& name, const std::vector<std::string>& sent) {
  if (UpdateRequested()) Write(GoldenPath(name), sent);
  return GoldenTexts(name);
}

std::vector<std::string> GoldenTexts(const std::string& name) {
  const std::filesystem::path path = GoldenPath(name);
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    ADD_FAILURE() << "no golden file " << path << "; run with CLOSEWRIGHT_UPDATE_GOLDEN=1 to record one";
    return {};
  }
  std::ostringstream content;
  content << in.rdbuf();
  const std::string file = content.str();

  std::vector<std::string> texts;
  // A marker starts a line; the break is appended rather than written "\n" + Marker(...), which GCC 12
  // flags with a false -Wrestrict (GCC bug 105329).
  const auto lineOf = [](std::size_t number) {
    std::string line(1, '\n');
    line += Marker(number);
    return line;
  };
  std::size_t at = file.starts_with(Marker(1)) ? 0 : file.find(lineOf(1));
  if (at == std::string::npos) {
    ADD_FAILURE() << path << " holds no text";
    return texts;
  }
  if (at != 0) ++at;  // past the comment lines' last break
  for (std::size_t number = 1;; ++number) {
    const std::size_t start = at + Marker(number).size();
    const std::size_t next = file.find(lineOf(number + 1), start);
    if (next == std::string::npos) {
      if (!file.ends_with('\n') || file.size() < start + 1) {
        ADD_FAILURE() << path << " does not end with a line break after its last text";
        texts.push_back(file.substr(start));
      } else {
        texts.push_back(file.substr(start, file.size() - 1 - start));
      }
      return texts;
    }
    texts.push_back(file.substr(start, next - start));
    at = next + 1;
  }
}

}  // namespace closewright::testing
