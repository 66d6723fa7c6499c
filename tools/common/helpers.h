// Small helpers of the host-side programs and their tests (zqpack, the Wine
// world, the test fixture and the rigs), kept here once.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace zq {

inline bool StartsWith(const std::string& text, const std::string& head) { return text.rfind(head, 0) == 0; }

// A..Z made a..z; every other byte as it is (names in setups are ASCII).
inline std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// Equal but for the case of A..Z, as Windows compares section, key and file
// names.
inline bool EqualIgnoringCase(const std::string& a, const std::string& b) { return Lower(a) == Lower(b); }

inline std::string Joined(const std::vector<std::string>& items, const std::string& separator = ", ") {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : separator) + item;
  return text;
}

// A file's whole contents; empty when it cannot be read.
inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace zq
