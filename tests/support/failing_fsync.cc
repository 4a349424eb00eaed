// A library that tests preload into the tool (LD_PRELOAD) to make fsync and
// fdatasync fail as a failing disk or a file system that cannot sync would:
// with the error named by BLOCK2GCI_TEST_FSYNC_ERROR (EIO, ENOSPC, EINVAL,
// EROFS). Without that variable, or with another name, they succeed.

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

int injectedError() {
  const char* name = std::getenv("BLOCK2GCI_TEST_FSYNC_ERROR");
  if (name == nullptr) return 0;
  const struct {
    const char* name;
    int error;
  } kErrors[] = {{"EIO", EIO}, {"ENOSPC", ENOSPC}, {"EINVAL", EINVAL}, {"EROFS", EROFS}};
  for (const auto& known : kErrors) {
    if (std::strcmp(name, known.name) == 0) return known.error;
  }
  return 0;
}

int sync(int) {
  const int error = injectedError();
  if (error == 0) return 0;
  errno = error;
  return -1;
}

}  // namespace

extern "C" int fsync(int fd) { return sync(fd); }
extern "C" int fdatasync(int fd) { return sync(fd); }
