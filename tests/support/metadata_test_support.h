// Shared by the metadata tests: our encoder's files, test ICC profiles, the
// marker segments of a file, and exiftool as the independent reader and
// writer of tags.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "pictures/jpeg/jpeg_image.h"
#include "pictures/metadata/metadata.h"
#include "tests/support/files_test_support.h"
#include "tests/support/pictures.h"

namespace sigillon {

// How a failing expectation shows metadata: the size of each block.
inline void PrintTo(const PictureMetadata& m, std::ostream* out) {
    *out << "{exif " << m.exif.size() << ", xmp " << m.xmp.size() << ", icc " << m.icc.size()
         << ", extended xmp";
    for (const auto& part : m.extendedXmp) *out << " " << part.size();
    *out << ", photoshop";
    for (const auto& part : m.photoshop) *out << " " << part.size();
    *out << "}";
}

}  // namespace sigillon

namespace sigillon::testing {

inline std::unique_ptr<TBitmap> Gradient(int width, int height) {
    return MakeTrueColourPicture(width, height, [=](int x, int y, std::uint8_t* p) {
        p[0] = std::uint8_t(255 * x / width);
        p[1] = std::uint8_t(255 * y / height);
        p[2] = std::uint8_t((x * y) % 256);
    });
}

inline Bytes Encoded(const TBitmap& picture, const PictureMetadata* metadata = nullptr,
                     bool grayscale = false) {
    TJPEGImage jpeg;
    jpeg.Assign(picture);
    jpeg.SetGrayscaleOutput(grayscale);
    if (metadata) jpeg.SetOutputMetadata(*metadata);
    jpeg.Compress();
    return Bytes(jpeg.Data().begin(), jpeg.Data().end());
}

// A profile whose header says what it is (size, colour space, the "acsp"
// signature) and one tag of random data: carried byte for byte, never
// interpreted.
inline Bytes IccProfile(const char* space, std::size_t size, unsigned seed) {
    Bytes icc = RandomBytes(size, seed);
    std::fill(icc.begin(), icc.begin() + 144, 0);
    auto put32 = [&](std::size_t at, std::size_t v) {
        for (int i = 0; i < 4; ++i) icc[at + std::size_t(i)] = std::uint8_t(v >> (24 - 8 * i));
    };
    put32(0, size);
    // One private tag holding everything after the tag table.
    put32(128, 1);
    std::copy_n("zzzz", 4, icc.begin() + 132);
    put32(136, 144);
    put32(140, size - 144);
    std::copy_n("\x02\x10\0\0mntr", 8, icc.begin() + 8);
    std::copy_n(space, 4, icc.begin() + 16);
    std::copy_n("XYZ ", 4, icc.begin() + 20);
    std::copy_n("acsp", 4, icc.begin() + 36);
    return icc;
}

// The marker segments of a file up to its first scan: marker, payload.
using Segments = std::vector<std::pair<int, Bytes>>;
inline Segments SegmentsOf(const Bytes& f) {
    Segments segments;
    std::size_t at = 2;
    while (at + 4 <= f.size() && f[at] == 0xFF && f[at + 1] != 0xDA) {
        const std::size_t length = std::size_t(f[at + 2] << 8 | f[at + 3]);
        segments.push_back({f[at + 1], Bytes(f.begin() + std::ptrdiff_t(at + 4),
                                             f.begin() + std::ptrdiff_t(at + 2 + length))});
        at += 2 + length;
    }
    return segments;
}

// The file with a segment put in right after its start-of-image marker.
inline Bytes WithSegment(const Bytes& file, int marker, const std::string& signature,
                         const Bytes& payload) {
    const std::size_t length = 2 + signature.size() + payload.size();
    Bytes out(file.begin(), file.begin() + 2);
    out.insert(out.end(),
               {0xFF, std::uint8_t(marker), std::uint8_t(length >> 8), std::uint8_t(length)});
    out.insert(out.end(), signature.begin(), signature.end());
    out.insert(out.end(), payload.begin(), payload.end());
    out.insert(out.end(), file.begin() + 2, file.end());
    return out;
}

// Runs exiftool with these arguments (passed through an argument file, so
// nothing is quoted) and gives what it printed.
inline std::string Exiftool(const TempFolder& folder, const std::vector<std::string>& args) {
    const std::string argFile = folder / "exiftool-args";
    std::string lines;
    for (const std::string& a : args) lines += a + "\n";
    WriteAll(argFile, Bytes(lines.begin(), lines.end()));
    FILE* pipe = ::popen((std::string(SIGILLON_EXIFTOOL) + " -@ " + argFile).c_str(), "r");
    std::string out;
    if (!pipe) {
        ADD_FAILURE() << "exiftool cannot be run (scripts/test installs it)";
        return out;
    }
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    EXPECT_EQ(::pclose(pipe), 0) << "exiftool " << lines;
    return out;
}

// Tag values as exiftool prints them with -T, one tab-separated line; "-"
// for a tag that is absent.
inline std::vector<std::string> ExiftoolTags(const TempFolder& folder, const std::string& file,
                                             const std::vector<std::string>& tags) {
    std::vector<std::string> args = {"-T", "-n"};
    for (const std::string& t : tags) args.push_back("-" + t);
    args.push_back(file);
    std::string line = Exiftool(folder, args);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    std::vector<std::string> values;
    for (std::size_t start = 0;;) {
        const std::size_t tab = line.find('\t', start);
        values.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
    return values;
}

}  // namespace sigillon::testing
