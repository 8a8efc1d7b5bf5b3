// A file descriptor that is closed when it goes out of scope.
#pragma once

#include <unistd.h>

namespace kx {

struct FileDescriptor {
    int fd;  // -1: none
    explicit FileDescriptor(int f)
        : fd(f)
    {}
    ~FileDescriptor()
    {
        if (fd >= 0) ::close(fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    // Closes it now, telling whether the last writes reached the file.
    bool Close()
    {
        const int was = fd;
        fd = -1;
        return ::close(was) == 0;
    }
};

}  // namespace kx
