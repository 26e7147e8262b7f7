#pragma once

#include <cstddef>
#include <deque>

namespace plenoview {

// The files a run has just written, held open until their pages are on the
// disk, then dropped from the page cache. A long sequence writes gigabytes
// of views that nobody reads back in this run; left in the cache they push
// out what the machine still needs, and every file lands in pages the cache
// has never held, which costs far more than reusing the pages of a file
// already on the disk (a third of the CPU of PNG in, PNG out on a virtual
// machine). The write-back of each file starts as soon as it is held, so
// that by the time it is released, about `heldBytes` later, it is long done
// and releasing it does not wait. At most `heldFiles` are held, so that
// small views do not use up the process's file descriptors. Everything here is a hint to the
// kernel: a file system that ignores it (tmpfs) loses nothing, and no error of it reaches the
// caller.
class WrittenPages {
 public:
  explicit WrittenPages(size_t heldBytes = size_t{64} << 20, size_t heldFiles = 64);
  // Closes what it still holds without dropping it: the last files of a run
  // stay cached, and ending a run never waits for the disk.
  ~WrittenPages();
  WrittenPages(const WrittenPages&) = delete;
  WrittenPages& operator=(const WrittenPages&) = delete;

  // Takes over `fd`, a file of `bytes` bytes whose writing is finished.
  void hold(int fd, size_t bytes);

 private:
  void releaseOldest();

  struct HeldFile {
    int fd;
    size_t bytes;
  };
  std::deque<HeldFile> files_;
  size_t heldBytes_ = 0;
  size_t bytesLimit_;
  size_t filesLimit_;
};

}  // namespace plenoview
