// One error manager for every libjpeg user (the JPEG file reader, TIFF's JPEG strips, the
// sheet writer). libjpeg reports fatal errors through error_exit, which must not return: the
// manager keeps the library's message and code and leaves by longjmp to the caller's setjmp,
// whose frame must own no C++ objects that need unwinding between the two.
#pragma once
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace tilvorn {

struct TJpegErrorManager {
    jpeg_error_mgr Base;
    std::jmp_buf Escape;
    char Message[JMSG_LENGTH_MAX] = "";
    int Code = 0;
};

namespace jpegerrors {

inline void ErrorExit(j_common_ptr info) {
    auto* manager = reinterpret_cast<TJpegErrorManager*>(info->err);
    manager->Code = info->err->msg_code;
    (*info->err->format_message)(info, manager->Message);
    std::longjmp(manager->Escape, 1);
}
inline void Silent(j_common_ptr) {}
inline void SilentLevelled(j_common_ptr, int) {}

}  // namespace jpegerrors

/// Makes manager the error manager of a libjpeg object (assign the answer to `info.err`).
/// Warnings about corrupt data the library can still decode are never printed.
inline jpeg_error_mgr* AttachJpegErrors(TJpegErrorManager& manager) {
    jpeg_std_error(&manager.Base);
    manager.Base.error_exit = jpegerrors::ErrorExit;
    manager.Base.output_message = jpegerrors::Silent;
    manager.Base.emit_message = jpegerrors::SilentLevelled;
    return &manager.Base;
}

}  // namespace tilvorn
