// The libjpeg pieces the whole-picture codec (jpeg_image.cpp) and the
// row-by-row one (jpeg_rows.cpp) share, so that both decode the same rows
// from a file and encode the same bytes from rows; the metadata reader
// (jpeg_metadata.cpp) takes its decoder from here too. Internal to
// pictures/.
//
// How the C library and the C++ code meet. libjpeg reports a fatal error by
// calling error_exit, which must not return; ours jumps back with longjmp
// to the setjmp of the phase function that called into the library. Every
// phase function (StartDecoding, ...) is C-style: its locals have trivial
// destructors, it returns whether the library succeeded, and only its C++
// caller turns a failure into BitmapError. No C++ exception ever travels
// through libjpeg's frames, and longjmp never skips a C++ destructor.
#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

#include "pictures/raster/bitmap.h"
#include "pictures/jpeg/jpeg_image.h"

namespace sigillon::jpeg_codec {

// A warning libjpeg gave, worded for the user ("the data ends at row 41 of
// 1536"), kept once for each kind with how often it came.
struct JpegWarning {
    int code;      // libjpeg's message code
    bool damage;   // rows from where it came on are grey or garbled
    long count;
    char text[JMSG_LENGTH_MAX];
};

inline constexpr int kKeptJpegWarnings = 8;

struct JpegErrors {
    jpeg_error_mgr pub;  // first, so that libjpeg's pointer to it is ours
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    // Set once the header is read by a decoder that refuses damaged
    // pictures: a damage warning then jumps back as a fatal error does.
    bool stopAtDamage;
    int warningCount;
    JpegWarning warnings[kKeptJpegWarnings];
};

// Fatal errors jump back with their message. Warnings are kept in
// warnings and decoding goes on, so that a damaged file still gives rows
// (what the desktop program shows), unless stopAtDamage is set.
void InstallErrors(JpegErrors& errors);

// From now on a damage warning stops the decoder; false, with the message
// set, when one already came (while the header was read).
bool StopAtDamage(JpegErrors& errors);

// The kept warnings as the user reads them, "JPEG: " first.
std::vector<std::string> WarningTexts(const JpegErrors& errors);

// The decoder with its error manager; destroyed in every case.
struct Decompressor {
    Decompressor();
    ~Decompressor();
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    jpeg_decompress_struct cinfo;
    JpegErrors errors;
    jpeg_progress_mgr progress{};
};

// The encoder with its error manager, on a destination whose callbacks the
// deriving owner gives; destroyed in every case. Of() finds the owner from
// the callbacks' cinfo.
struct Compressor {
    Compressor(void (*init)(j_compress_ptr), boolean (*empty)(j_compress_ptr),
               void (*term)(j_compress_ptr));
    ~Compressor();
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;

    // Inside a phase function: creates the encoder on the destination.
    void Create();
    template <class Owner>
    static Owner* Of(j_compress_ptr c) {
        return static_cast<Owner*>(static_cast<Compressor*>(c->client_data));
    }

    jpeg_compress_struct cinfo;
    JpegErrors errors;
    jpeg_destination_mgr destination{};
};

// How libjpeg is asked to decode, worked out from the settings and the file.
struct DecodeOptions {
    J_COLOR_SPACE outColorSpace;
    bool gray;      // one gray component out
    bool quantize;  // 8-bit palette rows
    bool twoPass;
    bool fast;
    bool smoothing;
    unsigned scaleDenominator;
    int bits;  // bits per pixel of the rows: 8 or 24
};

DecodeOptions DecodeOptionsFor(const JpegDecodeSettings& settings, int components);

// Gray and colour pictures are what we know; throws BitmapError for others.
void CheckComponents(const jpeg_decompress_struct& c);

// The colour map of a quantising decoder as a palette.
std::vector<TColor> DecodedPalette(const jpeg_decompress_struct& c, bool gray);

[[noreturn]] void Fail(const JpegErrors& errors);

// ---- Phase functions: C-style, see the top of the file ----

// Creates the decoder on the bytes in memory, or on a source of the
// caller's (which stays the caller's), and reads the header.
bool ReadHeader(Decompressor* d, const std::uint8_t* data, std::size_t size);
// With keepMetadata the APP segments holding metadata are kept for
// CollectJpegMetadata (jpeg_metadata.h).
bool ReadHeaderFrom(Decompressor* d, jpeg_source_mgr* source, bool keepMetadata = false);

// Makes the decoder keep the segments the metadata lives in (APP1: EXIF
// and XMP; APP2: ICC; APP13: Photoshop). Call inside a phase function,
// after jpeg_create_decompress and before jpeg_read_header.
void KeepMetadataSegments(j_decompress_ptr c);

bool SetUpDecoding(Decompressor* d, const DecodeOptions* o);

// Runs the first pass of two-pass quantisation and absorbs every scan of a
// progressive file, so that it is the long part for those.
bool StartDecoding(Decompressor* d);

// The encoder's parameters for blue, green, red rows: the settings every
// file the program writes is made with. Call between jpeg_create_compress
// and jpeg_start_compress, inside a phase function.
void ConfigureEncoder(j_compress_ptr c, JDIMENSION width, JDIMENSION height, int quality,
                      bool grayscale, bool progressive);

}  // namespace sigillon::jpeg_codec
