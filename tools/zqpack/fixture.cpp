#include "fixture.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "bitmap.h"
#include "bytes.h"
#include "deflater.h"
#include "payload/checksum.h"

namespace zqfixture {

std::vector<uint8_t> FillerStub() {
  std::vector<uint8_t> stub(kStubBytes);
  uint32_t x = 0x5A51;
  for (uint8_t& b : stub) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
  stub[0] = 'M';
  stub[1] = 'Z';
  return stub;
}

std::vector<PayloadEntry> LayOutTable(const std::vector<Entry>& entries) {
  std::vector<PayloadEntry> table;
  uint32_t offset = 0;
  for (const Entry& e : entries) {
    const uint32_t nameBytes = static_cast<uint32_t>(e.name.size() + (e.nameWithoutZero ? 0 : 1));
    table.push_back(PayloadEntry{offset, offset + nameBytes, static_cast<uint32_t>(e.contents.size())});
    offset += nameBytes + static_cast<uint32_t>(e.contents.size());
  }
  return table;
}

std::vector<uint8_t> LayOutData(const std::vector<Entry>& entries) {
  std::vector<uint8_t> data;
  for (const Entry& e : entries) {
    data.insert(data.end(), e.name.begin(), e.name.end());
    if (!e.nameWithoutZero) data.push_back(0);
    data.insert(data.end(), e.contents.begin(), e.contents.end());
  }
  return data;
}

std::vector<uint8_t> ZlibStream(const std::vector<uint8_t>& data, int level) { return DeflateBytes(data, level); }

std::vector<uint8_t> ZlibStreamWithDictionary(const std::vector<uint8_t>& data,
                                              const std::vector<uint8_t>& dictionary) {
  z_stream z{};
  if (deflateInit(&z, 6) != Z_OK) throw std::runtime_error("deflateInit failed");
  deflateSetDictionary(&z, dictionary.data(), static_cast<uInt>(dictionary.size()));
  std::vector<uint8_t> out(deflateBound(&z, static_cast<uLong>(data.size())) + 64);
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

static void Apply(std::vector<uint8_t>& bytes, size_t base, const std::vector<ByteChange>& changes) {
  for (const ByteChange& c : changes) bytes.at(base + c.offset) ^= c.mask;
}

std::vector<uint8_t> BuildSetup(const SetupRecipe& recipe) {
  if (recipe.stub.size() != kStubBytes) throw std::invalid_argument("the fixture's stub is not 32768 bytes");
  const std::vector<PayloadEntry> table = recipe.table ? *recipe.table : LayOutTable(recipe.entries);
  const std::vector<uint8_t> data = recipe.inflated ? *recipe.inflated : LayOutData(recipe.entries);
  std::vector<uint8_t> stream = recipe.stream ? *recipe.stream : ZlibStream(data, recipe.level);
  if (recipe.wrongZlibTrailer) stream.back() ^= 0xFF;
  const std::vector<uint8_t> tableBytes = EncodeTable(table);

  PayloadHeader h;
  h.Signature = recipe.signature.value_or(kPayloadSignature);
  h.CompressedSize = recipe.compressedSize.value_or(static_cast<uint32_t>(stream.size() + recipe.bytesInsideStream.size()));
  h.InflatedSize = recipe.inflatedSize.value_or(static_cast<uint32_t>(data.size()));
  h.EntryCount = recipe.entryCount.value_or(static_cast<int32_t>(table.size()));
  h.StubChecksum = recipe.stubChecksum.value_or(ComputeStubChecksum(recipe.stub.data()));
  h.TableChecksum =
      recipe.tableChecksum.value_or(PayloadChecksum(kPayloadSignature, tableBytes.data(), tableBytes.size()));
  h.DataChecksum = recipe.dataChecksum.value_or(PayloadChecksum(kPayloadSignature, data.data(), data.size()));

  std::vector<uint8_t> file(recipe.stub);
  file.resize(kStubBytes + kHeaderBytes);
  EncodeHeader(h, &file[kStubBytes]);
  file.insert(file.end(), tableBytes.begin(), tableBytes.end());
  file.insert(file.end(), stream.begin(), stream.end());
  file.insert(file.end(), recipe.bytesInsideStream.begin(), recipe.bytesInsideStream.end());
  file.insert(file.end(), recipe.bytesBehindStream.begin(), recipe.bytesBehindStream.end());
  Apply(file, 0, recipe.stubChanges);
  Apply(file, kTableOffset, recipe.tableChanges);
  if (recipe.cutTo && *recipe.cutTo < file.size()) file.resize(*recipe.cutTo);
  return file;
}

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

std::vector<uint8_t> RandomBytes(size_t count, uint32_t seed) {
  std::vector<uint8_t> bytes(count);
  uint64_t x = 0x9E3779B97F4A7C15ull ^ seed;
  for (size_t i = 0; i < count; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    bytes[i] = static_cast<uint8_t>(x >> 32);
  }
  return bytes;
}

std::vector<uint8_t> TextLikeBytes(size_t count, uint32_t seed) {
  static const char* const kWords[] = {
      "the",        "setup",   "installs", "application", "onto",   "your",    "device",    "files",
      "are",        "copied",  "license",  "agreement",   "please", "read",    "carefully", "before",
      "continuing", "version", "phone",    "manager",     "folder", "and",     "of",        "to",
      "a",          "in",      "with",     "SmartPhone",  "2002",   "Windows", "CE"};
  const size_t words = sizeof kWords / sizeof kWords[0];
  std::vector<uint8_t> bytes;
  bytes.reserve(count + 16);
  uint32_t x = seed * 2654435761u + 1;
  size_t lineChars = 0;
  while (bytes.size() < count) {
    x = x * 1103515245u + 12345u;
    const char* w = kWords[(x >> 16) % words];
    bytes.insert(bytes.end(), w, w + strlen(w));
    lineChars += strlen(w) + 1;
    if (lineChars > 70) {
      bytes.push_back('\r');
      bytes.push_back('\n');
      lineChars = 0;
    } else {
      bytes.push_back(' ');
    }
  }
  bytes.resize(count);
  return bytes;
}

std::vector<uint8_t> MakeBitmap(int widthPx, int heightPx, int bitsPerPixel) {
  BitmapLayout b = NewBitmap(widthPx, heightPx, bitsPerPixel);
  const uint32_t paletteColours = (b.pixelOffset - b.paletteOffset) / 4;
  for (uint32_t i = 0; i < paletteColours; ++i) {
    const uint8_t grey = static_cast<uint8_t>(i * 255 / (paletteColours - 1));
    uint8_t* entry = &b.bytes[b.paletteOffset + i * 4];
    entry[0] = entry[1] = entry[2] = grey;
  }
  const uint32_t pixelBytes = static_cast<uint32_t>(b.bytes.size()) - b.pixelOffset;
  for (uint32_t i = 0; i < pixelBytes; ++i) b.bytes[b.pixelOffset + i] = static_cast<uint8_t>(i * 7 + i / b.rowBytes);
  return b.bytes;
}

std::vector<uint8_t> MakeCabinet(const std::string& fileName, const std::vector<uint8_t>& contents) {
  // CFHEADER (36 bytes), one CFFOLDER (8), one CFFILE (16 + name), then
  // CFDATA blocks of at most 32768 bytes, stored.
  constexpr uint32_t kBlockBytes = 32768;
  const uint32_t filesOffset = 36 + 8;
  const uint32_t dataOffset = filesOffset + 16 + static_cast<uint32_t>(fileName.size()) + 1;
  const uint32_t blocks = static_cast<uint32_t>((contents.size() + kBlockBytes - 1) / kBlockBytes);
  std::vector<uint8_t> cab(dataOffset);
  memcpy(&cab[0], "MSCF", 4);
  PutLe32(&cab[16], filesOffset);
  cab[24] = 3;  // version 1.3
  cab[25] = 1;
  PutLe16(&cab[26], 1);  // folders
  PutLe16(&cab[28], 1);  // files
  PutLe32(&cab[36], dataOffset);
  PutLe16(&cab[40], static_cast<uint16_t>(blocks));
  PutLe16(&cab[42], 0);  // no compression
  uint8_t* file = &cab[filesOffset];
  PutLe32(file, static_cast<uint32_t>(contents.size()));
  PutLe16(file + 10, (2002 - 1980) << 9 | 1 << 5 | 1);  // 2002-01-01
  PutLe16(file + 14, 0x20);                             // archive
  memcpy(file + 16, fileName.c_str(), fileName.size() + 1);
  for (uint32_t b = 0; b < blocks; ++b) {
    const size_t start = size_t(b) * kBlockBytes;
    const uint16_t n = static_cast<uint16_t>(std::min<size_t>(kBlockBytes, contents.size() - start));
    uint8_t block[8] = {};
    PutLe16(block + 4, n);
    PutLe16(block + 6, n);
    cab.insert(cab.end(), block, block + 8);
    cab.insert(cab.end(), contents.begin() + static_cast<long>(start), contents.begin() + static_cast<long>(start + n));
  }
  PutLe32(&cab[8], static_cast<uint32_t>(cab.size()));
  return cab;
}

std::string SampleSetupIni() {
  return "[CEAppManager]\r\n"
         "Version = 1.0\r\n"
         "Component = Sample App\r\n"
         "\r\n"
         "[Sample App]\r\n"
         "Description = A sample application\r\n"
         "CabFiles = DEMO.CAB\r\n"
         "\r\n"
         "[ZQINSTALLER]\r\n"
         "ProductName = Sample\r\n"
         "ProductVersion = 1.00\r\n"
         "InstallDirectory = Sample\r\n"
         "LicenseFile = license.rtf\r\n"
         "HeadBitmap = head.bmp\r\n"
         "BodyBitmap = body.bmp";
}

std::vector<Entry> SampleEntries() {
  return {
      {"license.rtf", Bytes("{\\rtf1\\ansi Sample license.\\par}"), false},
      {"body.bmp", MakeBitmap(164, 314), false},
      {"head.bmp", MakeBitmap(55, 55), false},
      {"Setup.ini", Bytes(SampleSetupIni()), false},
      {"DEMO.CAB", MakeCabinet("sample.exe", TextLikeBytes(40000, 7)), false},
  };
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) throw std::runtime_error("cannot create " + path);
  const bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (fclose(f) != 0 || !ok) throw std::runtime_error("cannot write " + path);
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) throw std::runtime_error("cannot open " + path);
  std::vector<uint8_t> bytes;
  uint8_t chunk[65536];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
  fclose(f);
  return bytes;
}

std::vector<std::string> FilesBelow(const std::string& dir) {
  namespace fs = std::filesystem;
  std::vector<std::string> files;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(dir, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error))
    files.push_back(fs::relative(it->path(), dir).generic_string());
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace zqfixture

namespace zqfixture {

static std::string Quoted(const std::string& text) { return "'" + text + "'"; }

std::string MakeSigningCommand(const std::string& dir, std::string* why) {
  const std::string cert = dir + "/cert.pem", key = dir + "/key.pem";
  std::filesystem::create_directories(dir);
  if (std::system("command -v openssl >/dev/null && command -v osslsigncode >/dev/null") != 0) {
    *why = "openssl or osslsigncode is not installed";
    return "";
  }
  const std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=ZQ Installer test' -keyout " +
                           Quoted(key) + " -out " + Quoted(cert) + " >/dev/null 2>&1";
  if (std::system(make.c_str()) != 0) {
    *why = "openssl could not make a certificate: " + make;
    return "";
  }
  return "osslsigncode sign -certs " + Quoted(cert) + " -key " + Quoted(key) +
         " -n 'ZQ test' -in \"%1\" -out \"%1.signed\" >/dev/null && mv \"%1.signed\" \"%1\"";
}

int VerifySignature(const std::string& dir, const std::string& file) {
  const std::string check =
      "osslsigncode verify -CAfile " + Quoted(dir + "/cert.pem") + " -in " + Quoted(file) + " >/dev/null 2>&1";
  return std::system(check.c_str());
}

}  // namespace zqfixture
