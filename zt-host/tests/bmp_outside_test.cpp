// The bitmap writer against what only this platform offers: an address-space
// reservation larger than the format can describe, and an outside reader.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "bmp_pictures.h"
#include "formats/bmp.h"

namespace zt {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(BmpWrite, FileTooLargeForThe32BitSizesIsRefused) {
  // 65536 x 65536 needs 4 GiB of rows. The pixels are a mapping that is never touched, so
  // the size check has to refuse the picture before any pixel is read.
  constexpr std::size_t kBytes = std::size_t{1} << 32;
  void* map =
      ::mmap(nullptr, kBytes, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (map == MAP_FAILED) GTEST_SKIP() << "cannot reserve 4 GiB of address space";
  const std::span<const std::uint8_t> pixels(static_cast<const std::uint8_t*>(map), kBytes);
  EXPECT_FALSE(bmp::bmp_indexed_bytes(65536, 65536, pixels, Palette{}).has_value());
  ::munmap(map, kBytes);
}

TEST(BmpWrite, AnOutsideReaderSeesA320x240PictureIn256Colours) {
#ifndef ZT_IDENTIFY
  GTEST_SKIP() << "ImageMagick's identify is not installed";
#else
  if (::access(ZT_IDENTIFY, X_OK) != 0) GTEST_SKIP() << "identify is missing";
  const auto file = bmp::bmp_indexed_bytes(320, 240, test::bmp_pattern_pixels(320, 240),
                                           test::bmp_test_palette());
  ASSERT_TRUE(file.has_value());
  char dir_template[] = "/tmp/zt-bmp-XXXXXX";
  ASSERT_NE(::mkdtemp(dir_template), nullptr);
  const std::filesystem::path dir = dir_template;
  const std::filesystem::path path = dir / "ScrSht1.bmp";
  {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(file->data()),
              static_cast<std::streamsize>(file->size()));
  }
  // %k counts the distinct colours used; the pattern uses every index and the palette's
  // colours are all different, so 256 means all of the table was read.
  const std::string cmd =
      std::string(ZT_IDENTIFY) + " -format '%w %h %k %r' '" + path.string() + "' 2>&1";
  std::string reply;
  if (FILE* p = ::popen(cmd.c_str(), "r")) {
    char buf[256];
    while (std::fgets(buf, sizeof buf, p)) reply += buf;
    ::pclose(p);
  }
  std::filesystem::remove_all(dir);
  EXPECT_EQ(reply.substr(0, 11), "320 240 256") << reply;
  EXPECT_NE(reply.find("PseudoClass"), std::string::npos) << reply;
#endif
}

}  // namespace
}  // namespace zt