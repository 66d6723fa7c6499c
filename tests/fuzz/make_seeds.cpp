// Writes the seed corpora of the fuzz targets (tests/fuzz/corpus/<target>/)
// from the fixture builder: a few small valid inputs per target and a few
// damaged or hostile ones.  Usage: zq_fuzz_seeds CORPUS_DIR
#include <stdio.h>

#include <filesystem>
#include <string>
#include <vector>

#include "bytes.h"
#include "fixture.h"
#include "reader_input.h"

namespace fs = std::filesystem;
using zqfixture::Bytes;
using zqfixture::Entry;
using zqfixture::SetupRecipe;

namespace {

fs::path gRoot;

void Seed(const std::string& target, const std::string& name, const std::vector<uint8_t>& bytes) {
  fs::create_directories(gRoot / target);
  zqfixture::WriteFileBytes((gRoot / target / name).string(), bytes);
}

// A complete setup's files, a few hundred bytes in all.
const std::vector<Entry> kTiny = {{"license.rtf", Bytes("{\\rtf1 Tiny license.\\par}")},
                                  {"body.bmp", zqfixture::MakeBitmap(2, 3)},
                                  {"head.bmp", zqfixture::MakeBitmap(3, 2)},
                                  {"Setup.ini", Bytes(zqfixture::SampleSetupIni())},
                                  {"DEMO.CAB", zqfixture::MakeCabinet("a.exe", Bytes("tiny"))}};
const std::vector<Entry> kHostile = {
    {"..\\x", Bytes("1")},   {"C:x", Bytes("2")},    {"x:y", Bytes("3")},       {"CON", Bytes("4")},
    {"NUL.txt", Bytes("5")}, {"a.cab ", Bytes("6")}, {"lpt9 .log", Bytes("7")}, {"..", {}},
    {"a/b", Bytes("9")}};

// payload_limits: header | table | names, no stream.
std::vector<uint8_t> HeaderTableNames(const std::vector<Entry>& entries, int32_t entryCount) {
  const std::vector<uint8_t> data = zqfixture::LayOutData(entries);
  std::vector<uint8_t> bytes(kHeaderBytes);
  EncodeHeader({kPayloadSignature, 0, static_cast<uint32_t>(data.size()), entryCount, 0, 0, 0}, bytes.data());
  const std::vector<uint8_t> table = EncodeTable(zqfixture::LayOutTable(entries));
  bytes.insert(bytes.end(), table.begin(), table.end());
  bytes.insert(bytes.end(), data.begin(), data.end());
  return bytes;
}

// setup_reader: the flags byte and everything behind the program proper of
// the tiny setup, changed by damage.
std::vector<uint8_t> ReaderInput(const std::vector<Entry>& entries, void (*damage)(SetupRecipe&) = nullptr) {
  SetupRecipe recipe;
  recipe.entries = entries;
  if (damage != nullptr) damage(recipe);
  const std::vector<uint8_t> setup = zqfixture::BuildSetup(recipe);
  std::vector<uint8_t> input{0};
  input.insert(input.end(), setup.begin() + kStubBytes, setup.end());
  return input;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  gRoot = argv[1];
  Seed("payload_limits", "tiny-setup", HeaderTableNames(kTiny, 5));
  Seed("payload_limits", "hostile-names", HeaderTableNames(kHostile, 9));
  Seed("payload_limits", "count-negative", HeaderTableNames(kTiny, -1));
  Seed("payload_limits", "count-10923", HeaderTableNames(kTiny, 10923));
  Seed("payload_limits", "name-without-zero", HeaderTableNames({{"setup.ini", Bytes("x"), true}}, 1));

  Seed("setup_reader", "valid", ReaderInput(kTiny));
  // The harness deflates the data behind the table and computes the sums.
  const uint8_t rebuild = kFixStubChecksum | kFixTableChecksum | kFixDataChecksum | kDeflateBody;
  std::vector<uint8_t> plain = HeaderTableNames(kTiny, 5);
  plain.insert(plain.begin(), rebuild);
  Seed("setup_reader", "valid-rebuilt", plain);
  plain[0] = static_cast<uint8_t>(rebuild | kLongBody | 3 << kLevelShift);
  Seed("setup_reader", "valid-rebuilt-long", plain);
  Seed("setup_reader", "hostile-names", ReaderInput(kHostile));
  Seed("setup_reader", "cut-in-stream",
       ReaderInput(kTiny, [](SetupRecipe& r) { r.cutTo = kTableOffset + 5 * kEntryBytes + 40; }));
  Seed("setup_reader", "wrong-trailer", ReaderInput(kTiny, [](SetupRecipe& r) { r.wrongZlibTrailer = true; }));
  Seed("setup_reader", "contents-past-data", ReaderInput(kTiny, [](SetupRecipe& r) {
         r.table = zqfixture::LayOutTable(r.entries);
         r.table->back().DataSize += 1;
       }));

  Seed("ini", "sample", Bytes(zqfixture::SampleSetupIni()));
  Seed("ini", "hostile-values",
       Bytes("[CEAppManager]\nComponent=App\n[App]\nCabFiles=..\\DEMO.CAB,C:\\x.cab,NUL.txt, DEMO.CAB,x:y,\n"
             "[ZQINSTALLER]\nLicenseFile=../license.rtf\nBodyBitmap=CON\nHeadBitmap=head.bmp:stream\n"
             "InstallDirectory=..\\..\\Windows\n"));
  Seed("ini", "quotes-comments-case",
       Bytes("; comment\r\n[zqinstaller]\r\nproductname = \"Quoted Name\"\r\nLICENSEFILE='license.rtf'\r\n"
             "[ceappmanager]\r\ncomponent = missing section\r\n"));
  Seed("ini", "long-and-empty",
       Bytes("[ZQINSTALLER]\nBodyBitmap=" + std::string(300, 'b') + ".bmp\nHeadBitmap=\nProductName=" +
             std::string(300, 'n') + "\n[CEAppManager]\nComponent=C\n[C]\nCabFiles=\n"));

  Seed("filecheck", "bmp-24", zqfixture::MakeBitmap(3, 2));
  Seed("filecheck", "bmp-1-top-down", zqfixture::MakeBitmap(9, -2, 1));
  std::vector<uint8_t> rle = zqfixture::MakeBitmap(4, 4, 4);
  PutLe32(&rle[30], 2);  // BI_RLE4
  Seed("filecheck", "bmp-rle4", rle);
  // A 2 x 1 OS/2 bitmap: file header, BITMAPCOREHEADER (2 x 1, one plane, 24 bits), one padded row.
  const char core[] =
      "BM\x22\0\0\0\0\0\0\0\x1a\0\0\0"
      "\x0c\0\0\0\x02\0\x01\0\x01\0\x18\0"
      "\0\0\0\0\0\0\0\0";
  Seed("filecheck", "bmp-core", std::vector<uint8_t>(core, core + sizeof core - 1));
  Seed("filecheck", "cab", zqfixture::MakeCabinet("a.exe", Bytes("tiny")));
  return 0;
}
