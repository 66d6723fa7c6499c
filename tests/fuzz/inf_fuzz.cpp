// zqpack cab's reader of a CAB Wizard .inf (tools/zqpack/inf.h) over
// arbitrary text: .inf files come from strangers' projects.  It must never
// crash, and what it accepts must write a .000 file that reads back with the
// same files, registry values and shortcuts (or be too large for one).
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "ce_setup.h"
#include "errors.h"
#include "inf.h"
#include "setup_xml_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  CabPlan plan;
  try {
    plan = ReadCabInf(text, "fuzz.inf", "FUZZ", size > 0 && data[0] == ';' ? "ARM" : "");
  } catch (const ZqError&) {
    return 0;
  }
  if (plan.sources.size() != plan.setup.files.size() + (plan.hasSetupDll ? 1 : 0)) abort();
  WriteSetupXml(plan);
  const std::vector<uint8_t> bytes = WriteCeSetup(plan.setup);
  if (bytes.size() > kCeSetupMaxBytes) return 0;
  CeSetup back;
  std::string reason;
  if (!ReadCeSetup(bytes, &back, &reason)) abort();
  if (back.files.size() != plan.setup.files.size() || back.registry.size() != plan.setup.registry.size() ||
      back.links.size() != plan.setup.links.size() || back.appName != plan.setup.appName)
    abort();
  return 0;
}
