// zt-mkdata OUTDIR [--contact-sheet FILE.bmp]: writes the game's data
// directory, the same bytes on every run.
#include <cstdio>
#include <string>
#include <string_view>

#include "contact.h"
#include "data_set.h"
#include "formats/bmp.h"
#include "palette.h"
#include "sheets.h"

namespace {

int usage() {
  std::fputs("usage: zt-mkdata OUTDIR [--contact-sheet FILE.bmp]\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string out_dir;
  std::string contact;
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (a == "--contact-sheet") {
      if (++i >= argc) return usage();
      contact = argv[i];
    } else if (a.starts_with("--contact-sheet=")) {
      contact = std::string(a.substr(16));
    } else if (a.starts_with("-") || !out_dir.empty()) {
      return usage();
    } else {
      out_dir = std::string(a);
    }
  }
  if (out_dir.empty()) return usage();

  const auto data = zt::mkdata::build_data_set();
  if (!data) {
    std::fputs("zt-mkdata: a sheet could not be encoded\n", stderr);
    return 1;
  }
  if (auto err = zt::mkdata::write_data_dir(out_dir, *data)) {
    std::fprintf(stderr, "zt-mkdata: %s\n", err->c_str());
    return 1;
  }
  if (!contact.empty()) {
    const zt::mkdata::Image sheet = zt::mkdata::contact_sheet(zt::mkdata::build_sheets());
    const auto bytes =
        zt::bmp::bmp_indexed_bytes(sheet.w, sheet.h, sheet.px, zt::mkdata::master_palette());
    if (!bytes || !zt::mkdata::write_file(contact, *bytes)) {
      std::fprintf(stderr, "zt-mkdata: could not write %s\n", contact.c_str());
      return 1;
    }
  }
  return 0;
}
