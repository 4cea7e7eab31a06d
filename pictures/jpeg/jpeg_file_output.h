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
struct FileCompressor {
    static constexpr std::size_t kBufferBytes = std::size_t(64) << 10;

    FileCompressor() {
        std::memset(&cinfo, 0, sizeof cinfo);
        InstallErrors(errors);
        cinfo.err = &errors.pub;
        destination.init_destination = Init;
        destination.empty_output_buffer = Empty;
        destination.term_destination = Term;
    }
    ~FileCompressor() { jpeg_destroy_compress(&cinfo); }
    FileCompressor(const FileCompressor&) = delete;
    FileCompressor& operator=(const FileCompressor&) = delete;

    static FileCompressor* Of(j_compress_ptr c) { return static_cast<FileCompressor*>(c->client_data); }

    // Inside a phase function: creates the encoder on the file.
    void Create() {
        jpeg_create_compress(&cinfo);
        cinfo.client_data = this;
        cinfo.dest = &destination;
    }

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

    jpeg_compress_struct cinfo;
    JpegErrors errors;
    jpeg_destination_mgr destination{};
    std::unique_ptr<std::uint8_t[]> buffer{new std::uint8_t[kBufferBytes]};
    SafeFileWriter* file = nullptr;
    int writeError = 0;
};

}  // namespace sigillon::jpeg_codec
