// zqpe: the build's and the benchmark's look at a linked program proper,
// through the project's one PE reader.  A host program that the Windows
// trees build with the host's compiler.
//
//   zqpe pad IMAGE OUT ARCH   checks that IMAGE fits the kProgramBytes of the
//                             program proper and writes it to OUT padded
//                             with zero bytes to exactly that length
//   zqpe sections IMAGE       one line for the headers and one per section:
//                             NAME, its bytes in memory (VirtualSize), its
//                             bytes in the file
//
// pad also clears the PE header's CheckSum, which ld fills in: a signing
// tool rewrites that field and the certificate-table entry of the data
// directories, and StubChecksum counts both as zeros.  With zeros in both, a
// setup's StubChecksum is the plain one over every byte, as before signing
// was possible and as every other packer computes it.  The loader checks the
// CheckSum of drivers only, never of a program, and ignores the bytes behind
// the last section.
#include <stdio.h>
#include <string.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "format/checksum.h"
#include "format/pe_layout.h"

namespace {

bool ReadImage(const char* path, std::vector<uint8_t>* bytes) {
  std::ifstream in(path, std::ios::binary);
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad() && in.is_open();
}

int Pad(const char* imagePath, const std::string& outPath, const char* arch) {
  std::vector<uint8_t> image;
  if (!ReadImage(imagePath, &image)) {
    fprintf(stderr, "error: cannot read %s\n", imagePath);
    return 1;
  }
  printf("program proper (%s): %zu of %u bytes used\n", arch, image.size(), kProgramBytes);
  if (image.size() > kProgramBytes) {
    fprintf(stderr, "error: the program proper (%s) is %zu bytes, over the %u of the payload format\n", arch,
            image.size(), kProgramBytes);
    return 1;
  }
  image.resize(kProgramBytes);
  SignedFields fields;
  if (!FindSignedFields(image.data(), &fields)) {
    fprintf(stderr, "error: the program proper (%s): no PE32 or PE32+ headers with five data directories\n", arch);
    return 1;
  }
  memset(&image[fields.CheckSumAt], 0, kCheckSumBytes);
  for (uint32_t i = 0; i < kCertEntryBytes; ++i)
    if (image[fields.CertTableAt + i] != 0) {
      fprintf(stderr,
              "error: the program proper (%s): a certificate table at %u: the checksum of a setup would change "
              "when it is signed\n",
              arch, fields.CertTableAt);
      return 1;
    }
  const std::string temporary = outPath + ".tmp";
  std::error_code ignored;  // a folder that cannot be made shows as a file that cannot be written
  std::filesystem::create_directories(std::filesystem::path(outPath).parent_path(), ignored);
  std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  out.close();
  if (!out || rename(temporary.c_str(), outPath.c_str()) != 0) {
    fprintf(stderr, "error: cannot write %s\n", outPath.c_str());
    remove(temporary.c_str());
    return 1;
  }
  return 0;
}

int Sections(const char* imagePath) {
  std::vector<uint8_t> image;
  const PeLayout pe = ReadImage(imagePath, &image) ? ReadPeLayout(image) : PeLayout();
  if (!pe.valid) {
    fprintf(stderr, "error: %s is no PE image\n", imagePath);
    return 1;
  }
  printf("headers %u %u\n", pe.headerBytes, pe.headerBytes);
  for (const PeSection& s : pe.sections) printf("%s %u %u\n", s.name.c_str(), s.virtualBytes, s.fileBytes);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && strcmp(argv[1], "pad") == 0) return Pad(argv[2], argv[3], argv[4]);
  if (argc == 3 && strcmp(argv[1], "sections") == 0) return Sections(argv[2]);
  fprintf(stderr, "usage: zqpe pad IMAGE OUT ARCH | zqpe sections IMAGE\n");
  return 2;
}
