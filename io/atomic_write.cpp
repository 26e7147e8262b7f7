#include "io/atomic_write.h"

#include "base/plenoview_error.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace plenoview {

namespace {

namespace fs = std::filesystem;

const char* const kTemporaryMark = ".tmp-";

const std::string& processToken() {
  static const std::string token = [] {
    std::random_device source;
    std::uniform_int_distribution<unsigned> digit(0, 15);
    std::string text;
    for (int i = 0; i < 12; ++i) text += "0123456789abcdef"[digit(source)];
    return text;
  }();
  return token;
}

}  // namespace

std::string temporaryPathFor(const std::string& path) {
  const fs::path target(path);
  return (target.parent_path() /
          ("." + target.filename().string() + kTemporaryMark + processToken()))
      .string();
}

bool isTemporaryPngName(const std::string& name) {
  const std::string mark = std::string(".png") + kTemporaryMark;
  const size_t at = name.rfind(mark);
  return name.size() > 1 && name[0] == '.' && at != std::string::npos && at > 1 &&
         at + mark.size() < name.size();
}

void encodePng(const std::string& path, const cv::Mat& image, PngEncoder& encoder,
               std::vector<uchar>& bytes) {
  if (!encoder.encode(image, bytes)) {
    throw PlenoviewError("cannot encode the view \"" + path + "\" as PNG");
  }
}

std::vector<uchar> encodePng(const std::string& path, const cv::Mat& image) {
  PngEncoder encoder;
  std::vector<uchar> bytes;
  encodePng(path, image, encoder, bytes);
  return bytes;
}

void writeEncodedAtomically(const std::string& path, const std::vector<uchar>& bytes,
                            WrittenPages* pages) {
  const auto fail = [&]() -> void {
    throw PlenoviewError("cannot write the view \"" + path + "\"");
  };

  // Only a regular file (or nothing) is replaced; a folder, a device or a
  // pipe under the name (directly or behind a symlink) is someone else's.
  std::error_code statusError;
  const fs::file_status existing = fs::status(path, statusError);
  if (fs::exists(existing) && !fs::is_regular_file(existing)) fail();

  const std::string temporary = temporaryPathFor(path);
  const int fd =
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) fail();
  int kept = -1;  // a copy of the descriptor for `pages`
  // Removes the temporary file again; `path` keeps what it held.
  const auto discard = [&]() -> void {
    if (kept >= 0) ::close(kept);
    std::error_code ignored;
    fs::remove(temporary, ignored);
    fail();
  };
  const uchar* data = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    const ssize_t done = ::write(fd, data, left);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) {  // 0: a full disk
      ::close(fd);
      discard();
    }
    data += done;
    left -= static_cast<size_t>(done);
  }
  // A network file system reports a failed write when the file is closed,
  // so the file's own descriptor is closed here and a copy kept for `pages`.
  if (pages) kept = ::dup(fd);
  if (::close(fd) != 0) discard();
  // rename() replaces the target in one step: a reader sees the old file or
  // the new one, never a mixture.
  std::error_code error;
  fs::rename(temporary, path, error);
  if (error) discard();
  if (kept >= 0) pages->hold(kept, bytes.size());
}

}  // namespace plenoview
