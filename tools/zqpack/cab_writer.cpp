#include "cab_writer.h"

#include <libgcab.h>

#include <memory>

#include "errors.h"

namespace {

template <typename T>
struct Unref {
  void operator()(T* p) const { g_object_unref(p); }
};
template <typename T>
using Owned = std::unique_ptr<T, Unref<T>>;

[[noreturn]] void Fail(const std::string& what, GError* error) {
  const std::string text = std::string("libgcab cannot ") + what + ": " + (error != nullptr ? error->message : "?");
  g_clear_error(&error);
  throw ZqError(text);
}

}  // namespace

std::vector<uint8_t> WriteCabinet(const std::vector<CabMember>& members, bool compress) {
  Owned<GCabCabinet> cabinet(gcab_cabinet_new());
  Owned<GCabFolder> folder(gcab_folder_new(compress ? GCAB_COMPRESSION_MSZIP : GCAB_COMPRESSION_NONE));
  GError* error = nullptr;
  for (const CabMember& m : members) {
    GBytes* bytes = g_bytes_new(m.bytes.data(), m.bytes.size());
    Owned<GCabFile> file(gcab_file_new_with_bytes(m.name.c_str(), bytes));
    g_bytes_unref(bytes);
    GDateTime* when = g_date_time_new_from_unix_utc(m.modified);
    gcab_file_set_date_time(file.get(), when);
    g_date_time_unref(when);
    gcab_file_set_attributes(file.get(), GCAB_FILE_ATTRIBUTE_ARCH);
    if (!gcab_folder_add_file(folder.get(), file.get(), FALSE, nullptr, &error)) Fail("add " + m.name, error);
  }
  if (!gcab_cabinet_add_folder(cabinet.get(), folder.get(), &error)) Fail("add its folder", error);
  Owned<GOutputStream> stream(g_memory_output_stream_new_resizable());
  if (!gcab_cabinet_write_simple(cabinet.get(), stream.get(), nullptr, nullptr, nullptr, &error))
    Fail("write the cabinet", error);
  if (!g_output_stream_close(stream.get(), nullptr, &error)) Fail("write the cabinet", error);
  GMemoryOutputStream* memory = G_MEMORY_OUTPUT_STREAM(stream.get());
  const uint8_t* data = static_cast<const uint8_t*>(g_memory_output_stream_get_data(memory));
  return std::vector<uint8_t>(data, data + g_memory_output_stream_get_data_size(memory));
}
