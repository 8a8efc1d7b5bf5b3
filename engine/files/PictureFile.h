// Opening and reading picture files, shared by the whole-picture loader and
// the streaming decoders.
#pragma once

#include <cstdint>
#include <string>

#include "common/FileDescriptor.h"

namespace kx {

// Opens a regular file of at most kMaxPictureFileBytes for reading, giving
// its size; false with the failure reason set otherwise. Non-blocking: a
// named pipe without a writer must not hold the loader.
bool OpenPictureFile(const std::string& path, FileDescriptor& file, int64_t& size);

// Reads up to `count` bytes at `offset`: fewer only where the file ends
// (it may have shrunk since it was measured); -1 on a read error.
int64_t ReadAt(int fd, uint8_t* into, size_t count, int64_t offset);

}  // namespace kx
