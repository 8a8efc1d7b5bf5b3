// libjpeg's error handling for the decoder and the writer: errors jump back
// to the guarded call that met them, which holds nothing that needs
// destroying; the message of the last one is kept for the failure reason.
#pragma once

// jpeglib.h needs FILE and size_t declared first.
#include <cstdio>
#include <jpeglib.h>

#include <csetjmp>
#include <string>

namespace kx {

struct JpegError {
    jpeg_error_mgr manager;
    jmp_buf jump;
};

[[noreturn]] inline void JumpOnError(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1);
}

// Makes `error` the error manager of a compress or decompress object.
inline jpeg_error_mgr* JumpingErrors(JpegError& error)
{
    jpeg_error_mgr* manager = jpeg_std_error(&error.manager);
    manager->error_exit = JumpOnError;
    return manager;
}

// The text of libjpeg's last message on `info`.
inline std::string JpegMessage(j_common_ptr info)
{
    char text[JMSG_LENGTH_MAX] = {};
    info->err->format_message(info, text);
    return text;
}

}  // namespace kx
