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

namespace {

fs::path gRoot;

void Seed(const std::string& target, const std::string& name, const std::vector<uint8_t>& bytes) {
  fs::create_directories(gRoot / target);
  zqfixture::WriteFileBytes((gRoot / target / name).string(), bytes);
}

void Seed(const std::string& target, const std::string& name, const std::string& text) {
  Seed(target, name, Bytes(text));
}

// A complete setup's files, a few hundred bytes in all.
std::vector<Entry> TinyEntries() {
  return {
      {"license.rtf", Bytes("{\\rtf1 Tiny license.\\par}"), false},
      {"body.bmp", zqfixture::MakeBitmap(2, 3), false},
      {"head.bmp", zqfixture::MakeBitmap(3, 2), false},
      {"Setup.ini", Bytes(zqfixture::SampleSetupIni()), false},
      {"DEMO.CAB", zqfixture::MakeCabinet("a.exe", Bytes("tiny")), false},
  };
}

std::vector<Entry> HostileEntries() {
  return {{"..\\x", Bytes("1"), false},     {"C:x", Bytes("2"), false},
          {"x:y", Bytes("3"), false},       {"CON", Bytes("4"), false},
          {"NUL.txt", Bytes("5"), false},   {"a.cab ", Bytes("6"), false},
          {"lpt9 .log", Bytes("7"), false}, {"..", {}, false},
          {"a/b", Bytes("9"), false}};
}

// payload_limits: header | table | names, no stream.
std::vector<uint8_t> HeaderTableNames(const std::vector<Entry>& entries, int32_t entryCount) {
  const std::vector<uint8_t> data = zqfixture::LayOutData(entries);
  PayloadHeader h{kPayloadSignature, 0, static_cast<uint32_t>(data.size()), entryCount, 0, 0, 0};
  std::vector<uint8_t> bytes(kHeaderBytes);
  EncodeHeader(h, bytes.data());
  const std::vector<uint8_t> table = EncodeTable(zqfixture::LayOutTable(entries));
  bytes.insert(bytes.end(), table.begin(), table.end());
  bytes.insert(bytes.end(), data.begin(), data.end());
  return bytes;
}

// setup_reader: the flags byte and everything behind the program proper.
std::vector<uint8_t> ReaderInput(uint8_t flags, const zqfixture::SetupRecipe& recipe) {
  const std::vector<uint8_t> setup = zqfixture::BuildSetup(recipe);
  std::vector<uint8_t> input{flags};
  input.insert(input.end(), setup.begin() + kStubBytes, setup.end());
  return input;
}

zqfixture::SetupRecipe Recipe(std::vector<Entry> entries) {
  zqfixture::SetupRecipe recipe;
  recipe.entries = std::move(entries);
  return recipe;
}

void PayloadLimitsSeeds() {
  const std::string t = "payload_limits";
  Seed(t, "tiny-setup", HeaderTableNames(TinyEntries(), 5));
  Seed(t, "hostile-names", HeaderTableNames(HostileEntries(), 9));
  Seed(t, "count-negative", HeaderTableNames(TinyEntries(), -1));
  Seed(t, "count-10923", HeaderTableNames(TinyEntries(), 10923));
  std::vector<Entry> unterminated = {{"setup.ini", Bytes("x"), true}};
  Seed(t, "name-without-zero", HeaderTableNames(unterminated, 1));
}

void CabListSeeds() {
  const std::string t = "cablist";
  Seed(t, "one", "DEMO.CAB");
  Seed(t, "two", "a.cab,b.cab");
  Seed(t, "final-comma", "a.cab,b.cab,");
  Seed(t, "empty-items", ",a.cab,,b.cab");
  Seed(t, "blanks", "a.cab , b.cab");
  Seed(t, "empty", "");
}

void SetupReaderSeeds() {
  const std::string t = "setup_reader";
  Seed(t, "valid", ReaderInput(0, Recipe(TinyEntries())));
  // The harness deflates the data behind the table and computes the sums.
  const uint8_t rebuild = kFixStubChecksum | kFixTableChecksum | kFixDataChecksum | kDeflateBody;
  std::vector<uint8_t> plain{rebuild};
  const std::vector<uint8_t> layout = HeaderTableNames(TinyEntries(), 5);
  plain.insert(plain.end(), layout.begin(), layout.end());
  Seed(t, "valid-rebuilt", plain);
  plain[0] = static_cast<uint8_t>(rebuild | kLongBody | 3 << kLevelShift);
  Seed(t, "valid-rebuilt-long", plain);
  Seed(t, "hostile-names", ReaderInput(0, Recipe(HostileEntries())));
  zqfixture::SetupRecipe cut = Recipe(TinyEntries());
  cut.cutTo = kTableOffset + 5 * kEntryBytes + 40;
  Seed(t, "cut-in-stream", ReaderInput(0, cut));
  zqfixture::SetupRecipe trailer = Recipe(TinyEntries());
  trailer.wrongZlibTrailer = true;
  Seed(t, "wrong-trailer", ReaderInput(0, trailer));
  zqfixture::SetupRecipe past = Recipe(TinyEntries());
  past.table = zqfixture::LayOutTable(past.entries);
  past.table->back().DataSize += 1;
  Seed(t, "contents-past-data", ReaderInput(0, past));
}

void IniSeeds() {
  const std::string t = "ini";
  Seed(t, "sample", zqfixture::SampleSetupIni());
  Seed(t, "hostile-values",
       "[CEAppManager]\nComponent=App\n[App]\nCabFiles=..\\DEMO.CAB,C:\\x.cab,NUL.txt, DEMO.CAB,x:y,\n"
       "[ZQINSTALLER]\nLicenseFile=../license.rtf\nBodyBitmap=CON\nHeadBitmap=head.bmp:stream\n"
       "InstallDirectory=..\\..\\Windows\n");
  Seed(t, "quotes-comments-case",
       "; comment\r\n[zqinstaller]\r\nproductname = \"Quoted Name\"\r\nLICENSEFILE='license.rtf'\r\n"
       "[ceappmanager]\r\ncomponent = missing section\r\n");
  Seed(t, "long-and-empty",
       "[ZQINSTALLER]\nBodyBitmap=" + std::string(300, 'b') + ".bmp\nHeadBitmap=\nProductName=" +
           std::string(300, 'n') + "\n[CEAppManager]\nComponent=C\n[C]\nCabFiles=\n");
}

void FileCheckSeeds() {
  const std::string t = "filecheck";
  Seed(t, "bmp-24", zqfixture::MakeBitmap(3, 2));
  Seed(t, "bmp-1-top-down", zqfixture::MakeBitmap(9, -2, 1));
  std::vector<uint8_t> rle = zqfixture::MakeBitmap(4, 4, 4);
  PutLe32(&rle[30], 2);  // BI_RLE4
  Seed(t, "bmp-rle4", rle);
  // A 2 x 1 OS/2 bitmap: BITMAPCOREHEADER, 24 bits.
  std::vector<uint8_t> core(14 + 12 + 8);
  core[0] = 'B';
  core[1] = 'M';
  PutLe32(&core[2], static_cast<uint32_t>(core.size()));
  PutLe32(&core[10], 26);
  PutLe32(&core[14], 12);
  PutLe16(&core[18], 2);
  PutLe16(&core[20], 1);
  PutLe16(&core[22], 1);
  PutLe16(&core[24], 24);
  Seed(t, "bmp-core", core);
  Seed(t, "cab", zqfixture::MakeCabinet("a.exe", Bytes("tiny")));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  gRoot = argv[1];
  PayloadLimitsSeeds();
  CabListSeeds();
  SetupReaderSeeds();
  IniSeeds();
  FileCheckSeeds();
  return 0;
}
