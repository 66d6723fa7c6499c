// kBestLevel with libdeflate: its top level (12) searches for the cheapest
// sequence of matches over the whole data, which zlib's level 9 does not.
#include <libdeflate.h>

#include <memory>

#include "deflater.h"
#include "errors.h"

static constexpr int kLibdeflateTopLevel = 12;

std::vector<uint8_t> DeflateSmallest(const std::vector<uint8_t>& data) {
  const std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)> compressor(
      libdeflate_alloc_compressor(kLibdeflateTopLevel), libdeflate_free_compressor);
  if (!compressor) throw ZqError("cannot start libdeflate's compressor");
  // The bound covers data that does not shrink, so the call cannot run short.
  std::vector<uint8_t> stream(libdeflate_zlib_compress_bound(compressor.get(), data.size()));
  const size_t size =
      libdeflate_zlib_compress(compressor.get(), data.data(), data.size(), stream.data(), stream.size());
  if (size == 0) throw ZqError("libdeflate could not compress the payload");
  stream.resize(size);
  return stream;
}
