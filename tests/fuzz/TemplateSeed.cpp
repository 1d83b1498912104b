// Writes the fuzzer's seed corpus into the folder given: the shipped wizard template, and variants of
// it whose kind data carry versions above the highest, a truncated copy and a block of two windows.
#include <cstdio>
#include <string>

#include "app/WizardWindow.h"
#include "engine/TemplateCodec.h"

namespace {

bool Write(const std::string& path, const zv::tpl::Bytes& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: template_seed <corpus folder>\n");
    return 2;
  }
  const std::string folder = argv[1];
  zv::tpl::TemplateBlock block = zv::wizard::DescribeWizardWindow();
  const zv::tpl::Bytes shipped = zv::tpl::EncodeTemplateBlock(block);
  bool ok = Write(folder + "/wizard", shipped);
  ok = ok && Write(folder + "/wizard-truncated",
                   zv::tpl::Bytes(shipped.begin(), shipped.begin() + shipped.size() / 2));
  zv::tpl::TemplateBlock newer = block;
  for (zv::tpl::UnitRecord& unit : newer.windows[0].units) unit.kindData[0] = 0x7F;
  ok = ok && Write(folder + "/wizard-newer-kinds", zv::tpl::EncodeTemplateBlock(newer));
  zv::tpl::TemplateBlock two = block;
  two.windows.push_back(block.windows[0]);
  two.windows[1].windowId += 1;
  ok = ok && Write(folder + "/two-windows", zv::tpl::EncodeTemplateBlock(two));
  return ok ? 0 : 1;
}
