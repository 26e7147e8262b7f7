#include "io/written_pages.h"

#include <fcntl.h>
#include <unistd.h>

namespace plenoview {

WrittenPages::WrittenPages(size_t heldBytes, size_t heldFiles)
    : bytesLimit_(heldBytes), filesLimit_(heldFiles) {}

WrittenPages::~WrittenPages() {
  for (const HeldFile& file : files_) ::close(file.fd);
}

void WrittenPages::hold(int fd, size_t bytes) {
  ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
  files_.push_back({fd, bytes});
  heldBytes_ += bytes;
  while ((heldBytes_ > bytesLimit_ || files_.size() > filesLimit_) && files_.size() > 1) {
    releaseOldest();
  }
}

void WrittenPages::releaseOldest() {
  const HeldFile file = files_.front();
  files_.pop_front();
  heldBytes_ -= file.bytes;
  // Pages still dirty or under write-back are not dropped: wait for them.
  ::sync_file_range(
      file.fd, 0, 0,
      SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
  ::posix_fadvise(file.fd, 0, 0, POSIX_FADV_DONTNEED);
  ::close(file.fd);
}

}  // namespace plenoview
