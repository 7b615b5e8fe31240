#include "renderer.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cerrno>

namespace zt::renderer {
namespace {

TEST(Renderer, OnlyOpenGlOnARasteriserOfTheCpuCountsAsSoftware) {
  struct Case {
    Picked picked;
    bool software;
  };
  const Case cases[] = {
      {{"opengl", "llvmpipe (LLVM 15.0.6, 256 bits)"}, true},
      {{"opengles2", "llvmpipe (LLVM 15.0.6, 256 bits)"}, true},
      {{"opengl", "softpipe"}, true},
      {{"opengl", "Software Rasterizer"}, true},
      {{"opengl", "zink (llvmpipe (LLVM 15.0.6, 256 bits))"}, true},
      // A GPU driver built on LLVM is no rasteriser of the CPU.
      {{"opengl", "AMD Radeon RX 6600 (navi23, LLVM 15.0.6, DRM 3.49, 6.1.0-13-amd64)"}, false},
      {{"opengl", "Mesa Intel(R) UHD Graphics 620 (KBL GT2)"}, false},
      {{"opengl", "NVIDIA GeForce GTX 1060 6GB/PCIe/SSE2"}, false},
      {{"opengl", ""}, false},
      {{"software", ""}, false},
      // Another renderer's name never matters, whatever text comes with it.
      {{"software", "llvmpipe"}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(picks_software_opengl(c.picked), c.software)
        << c.picked.name << " / " << c.picked.gl_renderer;
  }
}

// The child answers for SDL's dummy video driver, which has only the
// software renderer and no OpenGL.
TEST(Renderer, TheProbeAnswersFromAChildProcessAndIsReaped) {
  ::setenv("SDL_VIDEODRIVER", "dummy", 1);
  std::optional<Probe> probe = Probe::start();
  ASSERT_TRUE(probe);
  const std::optional<Picked> picked = probe->result(std::chrono::seconds(30));
  ASSERT_TRUE(picked);
  EXPECT_EQ(picked->name, "software");
  EXPECT_EQ(picked->gl_renderer, "");
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a child is left";
  EXPECT_EQ(errno, ECHILD);
}

// Nearly always before the child has answered: it is ended, not waited for.
TEST(Renderer, AProbeGivenNoTimeLeavesNoChildBehind) {
  ::setenv("SDL_VIDEODRIVER", "dummy", 1);
  std::optional<Probe> probe = Probe::start();
  ASSERT_TRUE(probe);
  (void)probe->result(std::chrono::milliseconds(0));
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a child is left";
  EXPECT_EQ(errno, ECHILD);
}

}  // namespace
}  // namespace zt::renderer
