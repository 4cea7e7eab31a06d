// The encoder on a destination that empties its buffer into the file being
// saved: the row writer (jpeg_rows.cpp) and the transcoder
// (jpeg_transcode.cpp) write through it. Internal to pictures/.
#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstring>
#include <memory>

#include "pictures/files/safe_save.h"
#include "pictures/jpeg/jpeg_codec.h"

namespace sigillon::jpeg_codec {

// A write error leaves through the error manager's jump, its errno kept
// for the message.
struct FileCompressor : Compressor {
    static constexpr std::size_t kBufferBytes = std::size_t(64) << 10;

    FileCompressor() : Compressor(Init, Empty, Term) {}

    static FileCompressor* Of(j_compress_ptr c) { return Compressor::Of<FileCompressor>(c); }

    void Put(std::size_t bytes) {
        if (int error = file->TryAppend(buffer.get(), bytes)) {
            writeError = error;
            std::longjmp(errors.jump, 1);
        }
    }
    static void Init(j_compress_ptr c) {
        FileCompressor* self = Of(c);
        self->destination.next_output_byte = self->buffer.get();
        self->destination.free_in_buffer = kBufferBytes;
    }
    // Called with the whole buffer full, free_in_buffer notwithstanding.
    static boolean Empty(j_compress_ptr c) {
        FileCompressor* self = Of(c);
        self->Put(kBufferBytes);
        Init(c);
        return TRUE;
    }
    static void Term(j_compress_ptr c) {
        FileCompressor* self = Of(c);
        self->Put(kBufferBytes - self->destination.free_in_buffer);
    }

    // Throws the write error, or libjpeg's.
    [[noreturn]] void Failed() const {
        if (writeError) file->ThrowWriteError(writeError);
        Fail(errors);
    }

    std::unique_ptr<std::uint8_t[]> buffer{new std::uint8_t[kBufferBytes]};
    SafeFileWriter* file = nullptr;
    int writeError = 0;
};

}  // namespace sigillon::jpeg_codec
