#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/linux/LinuxRunLock.h"

namespace argb::platform {
namespace {

namespace fs = std::filesystem;

// A file renamed over the lock file between the open and the flock, on every try: the locked file
// has lost its name, and a run that kept it would run beside the next one.
TEST(LinuxRunLockTest, AFileSwappedBeforeTheFlockIsNeverTheOneHeld) {
  std::string dir = fs::temp_directory_path() / "argb-run-lock-XXXXXX";
  ASSERT_NE(::mkdtemp(dir.data()), nullptr);
  const std::string path = dir + "/" + LinuxRunLock::kFileName;
  LinuxRunLock lock(dir, [&] {
    std::ofstream{dir + "/new"}.close();
    fs::rename(dir + "/new", path);
  });
  EXPECT_EQ(lock.take().cause, path + ": the file was replaced while this run was locking it");
  fs::remove_all(dir);
}

}  // namespace
}  // namespace argb::platform
