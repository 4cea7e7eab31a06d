#include "pictures/jpeg/jpeg_metadata.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "pictures/jpeg/jpeg_codec.h"

// The reading functions call into libjpeg under an error manager of their
// own, so that a caller (whole-file or row-by-row decoder) needs no setjmp
// for them: ReadJpegMetadata under its decoder's, ReadIcc under one put in
// the decoder's place for the length of one call. The writing function runs
// inside the caller's boundary instead: its errors come from the caller's
// destination, which knows only the caller's error manager.

namespace sigillon {
namespace {

// Segment signatures, each with its terminating zero byte where it has one.
constexpr std::string_view kExifSignature{"Exif\0\0", 6};
constexpr std::string_view kXmpSignature{"http://ns.adobe.com/xap/1.0/\0", 29};
constexpr std::string_view kExtendedXmpSignature{"http://ns.adobe.com/xmp/extension/\0", 35};
constexpr std::string_view kPhotoshopSignature{"Photoshop 3.0\0", 14};

// libjpeg splits a profile into segments of this much after its 14-byte
// "ICC_PROFILE\0" and sequence header, and counts them in one byte.
constexpr std::size_t kIccBytesPerSegment = kMaxJpegSegmentPayload - 14;
constexpr std::size_t kMaxIccBytes = 255 * kIccBytesPerSegment;

// The decompressor used by ReadJpegMetadata may take this much for the
// segments it keeps; the file itself is the bound in practice.
constexpr long kReaderMemoryLimit = 256L << 20;

// Fatal errors jump back with their message; warnings (a profile whose
// segments do not add up) only mean no profile.
using jpeg_codec::Decompressor;
using jpeg_codec::InstallErrors;
using jpeg_codec::JpegErrors;

// ---- C-style calls into libjpeg: trivially destructible locals only ----

// The profile in a block from malloc, or false.
bool ReadIcc(j_decompress_ptr cinfo, JOCTET** icc, unsigned int* length) {
    JpegErrors local;
    InstallErrors(local);
    jpeg_error_mgr* const theirs = cinfo->err;
    cinfo->err = &local.pub;
    *icc = nullptr;
    *length = 0;
    if (setjmp(local.jump)) {
        cinfo->err = theirs;
        return false;
    }
    const bool found = jpeg_read_icc_profile(cinfo, icc, length);
    cinfo->err = theirs;
    return found;
}

bool ReadHeaderKeepingMarkers(Decompressor* d, const std::uint8_t* data, std::size_t size) {
    if (setjmp(d->errors.jump)) return false;
    jpeg_create_decompress(&d->cinfo);
    d->cinfo.mem->max_memory_to_use = kReaderMemoryLimit;
    jpeg_mem_src(&d->cinfo, data, static_cast<unsigned long>(size));
    jpeg_codec::KeepMetadataSegments(&d->cinfo);
    jpeg_read_header(&d->cinfo, TRUE);
    return true;
}

// Writes one segment: signature, then payload.
void WriteSegment(j_compress_ptr cinfo, int marker, std::string_view signature,
                  const std::uint8_t* payload, std::size_t size) {
    jpeg_write_m_header(cinfo, marker, static_cast<unsigned int>(signature.size() + size));
    for (char c : signature) jpeg_write_m_byte(cinfo, static_cast<unsigned char>(c));
    for (std::size_t i = 0; i < size; ++i) jpeg_write_m_byte(cinfo, payload[i]);
}

// ---- Rules shared by the warnings and the writer ----

bool StartsWith(const jpeg_saved_marker_ptr m, std::string_view signature) {
    return m->data_length >= signature.size() &&
           std::memcmp(m->data, signature.data(), signature.size()) == 0;
}

bool FitsOneSegment(std::size_t size, std::string_view signature) {
    return size <= kMaxJpegSegmentPayload - signature.size();
}

// Channels of the colour space an ICC profile's header names (bytes 16 to
// 19), or 0 when the profile is too short to say or names one we do not
// know.
int IccChannels(const std::vector<std::uint8_t>& icc) {
    if (icc.size() < 20) return 0;
    const std::string_view space(reinterpret_cast<const char*>(icc.data()) + 16, 4);
    if (space == "GRAY") return 1;
    if (space == "CMYK") return 4;
    for (std::string_view three :
         {"RGB ", "YCbr", "Lab ", "XYZ ", "Luv ", "Yxy ", "HSV ", "HLS ", "CMY "})
        if (space == three) return 3;
    if (space.substr(1) == "CLR") {
        const char n = space[0];
        if (n >= '2' && n <= '9') return n - '0';
        if (n >= 'A' && n <= 'F') return n - 'A' + 10;
    }
    return 0;
}

bool IccFits(const std::vector<std::uint8_t>& icc, int components) {
    const int channels = IccChannels(icc);
    return icc.size() <= kMaxIccBytes && (channels == 0 || channels == components);
}

// Gives back a block libjpeg took with malloc.
struct FreeBlock {
    void operator()(JOCTET* block) const { std::free(block); }
};

void Append(std::vector<std::uint8_t>& to, const JOCTET* from, std::size_t size) {
    to.insert(to.end(), from, from + size);
}

}  // namespace

PictureMetadata CollectJpegMetadata(jpeg_decompress_struct* cinfo,
                                    std::vector<std::string>* dropped) {
    PictureMetadata m;
    bool haveExif = false, haveXmp = false;
    std::size_t extendedBytes = 0, photoshopBytes = 0;
    for (jpeg_saved_marker_ptr s = cinfo->marker_list; s; s = s->next) {
        if (s->data_length != s->original_length) continue;  // cut short by the file's end
        if (s->marker == JPEG_APP0 + 1) {
            if (!haveExif && StartsWith(s, kExifSignature)) {
                Append(m.exif, s->data + kExifSignature.size(),
                       s->data_length - kExifSignature.size());
                haveExif = true;
            } else if (!haveXmp && StartsWith(s, kXmpSignature)) {
                m.xmp.assign(reinterpret_cast<const char*>(s->data) + kXmpSignature.size(),
                             s->data_length - kXmpSignature.size());
                haveXmp = true;
            } else if (StartsWith(s, kExtendedXmpSignature)) {
                const std::size_t size = s->data_length - kExtendedXmpSignature.size();
                extendedBytes += size;
                if (extendedBytes <= kMaxJpegMetadataKindBytes) {
                    m.extendedXmp.emplace_back();
                    Append(m.extendedXmp.back(), s->data + kExtendedXmpSignature.size(), size);
                }
            }
        } else if (s->marker == JPEG_APP0 + 13 && StartsWith(s, kPhotoshopSignature)) {
            photoshopBytes += s->data_length;
            if (photoshopBytes <= kMaxJpegMetadataKindBytes) {
                m.photoshop.emplace_back();
                Append(m.photoshop.back(), s->data, s->data_length);
            }
        }
    }
    auto drop = [&](auto& kind, std::size_t bytes, const char* name) {
        if (bytes <= kMaxJpegMetadataKindBytes) return;
        kind.clear();
        if (dropped)
            dropped->push_back(std::string(name) + " of " + std::to_string(bytes) +
                               " bytes dropped: more than " +
                               std::to_string(kMaxJpegMetadataKindBytes) + " bytes");
    };
    drop(m.extendedXmp, extendedBytes, "extended XMP");
    drop(m.photoshop, photoshopBytes, "Photoshop/IPTC data");

    JOCTET* icc = nullptr;
    unsigned int length = 0;
    if (ReadIcc(cinfo, &icc, &length)) {
        const std::unique_ptr<JOCTET, FreeBlock> owner(icc);
        Append(m.icc, icc, length);
    }
    return m;
}

PictureMetadata ReadJpegMetadata(const std::uint8_t* data, std::size_t size,
                                 std::vector<std::string>* dropped) {
    if (size == 0) return {};
    Decompressor d;
    if (!ReadHeaderKeepingMarkers(&d, data, size)) {
        if (dropped) dropped->push_back(std::string("metadata not read: ") + d.errors.message);
        return {};
    }
    return CollectJpegMetadata(&d.cinfo, dropped);
}

std::vector<std::string> JpegMetadataWarnings(const PictureMetadata& m, int components) {
    std::vector<std::string> warnings;
    auto tooLarge = [&](const std::string& what, std::size_t size, std::size_t limit) {
        warnings.push_back(what + " of " + std::to_string(size) +
                           " bytes left out: a JPEG file holds at most " + std::to_string(limit) +
                           " bytes of it");
    };
    if (!FitsOneSegment(m.exif.size(), kExifSignature))
        tooLarge("EXIF block", m.exif.size(), kMaxJpegSegmentPayload - kExifSignature.size());
    if (!FitsOneSegment(m.xmp.size(), kXmpSignature))
        tooLarge("XMP packet", m.xmp.size(), kMaxJpegSegmentPayload - kXmpSignature.size());
    for (const auto& part : m.extendedXmp)
        if (!FitsOneSegment(part.size(), kExtendedXmpSignature))
            tooLarge("extended XMP segment", part.size(),
                     kMaxJpegSegmentPayload - kExtendedXmpSignature.size());
    if (m.icc.size() > kMaxIccBytes) {
        tooLarge("ICC profile", m.icc.size(), kMaxIccBytes);
    } else if (!IccFits(m.icc, components)) {
        warnings.push_back("ICC profile left out: it is for " + std::to_string(IccChannels(m.icc)) +
                           " colour channels, the file has " + std::to_string(components));
    }
    for (const auto& part : m.photoshop)
        if (!FitsOneSegment(part.size(), {}))
            tooLarge("Photoshop/IPTC segment", part.size(), kMaxJpegSegmentPayload);
    return warnings;
}

void WriteJpegMetadata(jpeg_compress_struct* cinfo, const PictureMetadata& m) {
    if (!m.exif.empty() && FitsOneSegment(m.exif.size(), kExifSignature))
        WriteSegment(cinfo, JPEG_APP0 + 1, kExifSignature, m.exif.data(), m.exif.size());
    if (!m.xmp.empty() && FitsOneSegment(m.xmp.size(), kXmpSignature))
        WriteSegment(cinfo, JPEG_APP0 + 1, kXmpSignature,
                     reinterpret_cast<const std::uint8_t*>(m.xmp.data()), m.xmp.size());
    for (const auto& part : m.extendedXmp)
        if (FitsOneSegment(part.size(), kExtendedXmpSignature))
            WriteSegment(cinfo, JPEG_APP0 + 1, kExtendedXmpSignature, part.data(), part.size());
    if (!m.icc.empty() && IccFits(m.icc, cinfo->num_components))
        jpeg_write_icc_profile(cinfo, m.icc.data(), static_cast<unsigned int>(m.icc.size()));
    for (const auto& part : m.photoshop)
        if (FitsOneSegment(part.size(), {}))
            WriteSegment(cinfo, JPEG_APP0 + 13, {}, part.data(), part.size());
}

}  // namespace sigillon
