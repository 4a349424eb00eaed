// bench_read_once FILE: reads FILE once from start to end through a 1 MiB
// buffer and does nothing else with the bytes. It is the benchmark's second
// yardstick: the cost of reading the file once, which no converter that
// reads all of it can beat.
//
// The stream is unbuffered, so that every read goes straight into the one
// 1 MiB buffer rather than through the C library's own; the program's
// memory stays at that buffer whatever the size of the file.
//
// Exit status 0 when the whole file was read, 1 otherwise (with the file
// name and the system's reason on standard error), 2 on a wrong command line.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr std::size_t kBufferBytes = std::size_t{1} << 20;

int failure(const char* path, const char* what, int error) {
  std::fprintf(stderr, "bench_read_once: %s: %s: %s\n", path, what,
               error != 0 ? std::strerror(error) : "unknown error");
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("Usage: bench_read_once FILE.xml\n", stderr);
    return 2;
  }
  const char* path = argv[1];
  errno = 0;
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    return failure(path, "cannot open", errno);
  }
  if (std::setvbuf(file, nullptr, _IONBF, 0) != 0) {
    const int error = errno;
    std::fclose(file);
    return failure(path, "cannot turn off the stream's buffering", error);
  }
  std::vector<char> buffer(kBufferBytes);
  errno = 0;
  while (std::fread(buffer.data(), 1, buffer.size(), file) == buffer.size()) {
  }
  // A short read ends the loop: the end of the file, or an error.
  const bool read_error = std::ferror(file) != 0;
  const int error = errno;
  if (std::fclose(file) != 0 && !read_error) {
    return failure(path, "cannot close", errno);
  }
  if (read_error) {
    return failure(path, "cannot read", error);
  }
  return 0;
}
