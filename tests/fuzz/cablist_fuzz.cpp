// ForEachCabFile over arbitrary text (up to the first zero byte): the items
// come in order, each is the text between two commas, joined with commas
// they give back the list (a final comma begins no item), every comma and
// nothing else becomes a zero, and no byte outside the list is touched.
#include <string.h>

#include <string>
#include <vector>

#include "handoff/cablist.h"
#include "support.h"

namespace {

struct Walk {
  const char* buffer;     // the list's first byte
  size_t bufferBytes;     // the list and its zero
  const char* lastStart;  // of the item handed over before, to check the order
  std::vector<std::string> items;
};

void Record(const char* item, void* context) {
  Walk& walk = *static_cast<Walk*>(context);
  const size_t offset = static_cast<size_t>(item - walk.buffer);
  FUZZ_EXPECT(
      item >= walk.buffer && offset < walk.bufferBytes,
      "an item at offset " + std::to_string(offset) + " of a " + std::to_string(walk.bufferBytes) + "-byte list");
  FUZZ_EXPECT(memchr(item, 0, walk.bufferBytes - offset) != nullptr, "an item without its zero inside the list");
  FUZZ_EXPECT(walk.lastStart == nullptr || item > walk.lastStart, "items out of order");
  walk.lastStart = item;
  walk.items.emplace_back(item);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string list(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
  // Exactly the list and its zero on the heap, so a step past either end is caught.
  std::vector<char> buffer(list.begin(), list.end());
  buffer.push_back(0);
  buffer.shrink_to_fit();

  Walk walk{buffer.data(), buffer.size(), nullptr, {}};
  ForEachCabFile(buffer.data(), Record, &walk);

  std::string joined;
  for (size_t i = 0; i < walk.items.size(); ++i) joined += (i > 0 ? "," : "") + walk.items[i];
  const bool finalComma = !list.empty() && list.back() == ',';
  if (finalComma) joined += ',';
  FUZZ_EXPECT(joined == list, "list \"" + Printable(list) + "\" gave back \"" + Printable(joined) + "\" from " +
                                  std::to_string(walk.items.size()) + " items");

  std::string after(list);
  for (char& c : after)
    if (c == ',') c = 0;
  FUZZ_EXPECT(std::string(buffer.data(), list.size()) == after && buffer[list.size()] == 0,
              "the buffer after the walk: \"" + Printable(std::string(buffer.data(), buffer.size())) + "\"");
  return 0;
}
