// Real cameras' files (../shared/photos, kept outside the repository)
// through the built tool: converted with a copyright, and the large ones
// stamped. exiftool must read every tag of the blocks the tool carries as
// it read them in the input, but for the copyright, the orientation, the
// pixel size and the pictures, and must find no picture of the photo in
// any output; no byte of an input's pictures may be left in its output.
// In the library, without the tool: every EXIF block is edited in place.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "pictures/jpeg/jpeg_metadata.h"
#include "pictures/metadata/exif_pictures.h"
#include "pictures/metadata/metadata_edit.h"
#include "pictures/picture_files.h"
#include "tests/support/metadata_test_support.h"
#include "tests/support/process.h"

namespace sigillon {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using Json = nlohmann::json;

const std::string kCopyright = "\xC2\xA9 2026 Sigillon Tests";

std::vector<fs::path> CameraFiles() {
    std::vector<fs::path> files;
    if (!fs::is_directory(SIGILLON_PHOTOS_DIR)) return files;
    for (const auto& entry : fs::recursive_directory_iterator(SIGILLON_PHOTOS_DIR))
        if (entry.path().extension() == ".jpg") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

// exiftool's reading of each file, by file: -n values, binary ones as
// base64, groups as family 0 and 1.
std::map<std::string, Json> ReadTags(const std::vector<std::string>& files) {
    std::vector<std::string> argv = {SIGILLON_EXIFTOOL, "-j", "-a", "-b", "-n", "-G0:1", "-s"};
    argv.insert(argv.end(), files.begin(), files.end());
    const testing::ProcessRun run = testing::RunProcess(argv);
    std::map<std::string, Json> tags;
    for (const Json& file : Json::parse(run.out)) tags[file["SourceFile"]] = file;
    return tags;
}

// The input as the tool reads it: only the segments it carries (the EXIF
// block, the XMP packet and its extension, the ICC profile, Photoshop),
// nothing after the picture's end.
Bytes CarriedOnly(const Bytes& file) {
    Bytes out(file.begin(), file.begin() + 2);
    std::size_t at = 2;
    bool exif = false, xmp = false;
    auto starts = [&](std::size_t payload, const char* signature) {
        const std::string s(signature);
        return file.size() - payload >= s.size() &&
               std::equal(s.begin(), s.end(), file.begin() + std::ptrdiff_t(payload));
    };
    while (at + 4 <= file.size() && file[at] == 0xFF && file[at + 1] != 0xDA) {
        const int marker = file[at + 1];
        const std::size_t end = at + 2 + (std::size_t(file[at + 2]) << 8 | file[at + 3]);
        bool keep = !(marker >= 0xE0 && marker <= 0xEF) && marker != 0xFE;
        if (marker == 0xE1 && !exif && starts(at + 4, "Exif")) keep = exif = true;
        if (marker == 0xE1 && !xmp && starts(at + 4, "http://ns.adobe.com/xap/1.0/"))
            keep = xmp = true;
        if (marker == 0xE1 && starts(at + 4, "http://ns.adobe.com/xmp/extension/")) keep = true;
        if (marker == 0xE2 && starts(at + 4, "ICC_PROFILE")) keep = true;
        if (marker == 0xED && starts(at + 4, "Photoshop 3.0")) keep = true;
        if (keep)
            out.insert(out.end(), file.begin() + std::ptrdiff_t(at),
                       file.begin() + std::ptrdiff_t(end));
        at = end;
    }
    // The scan runs to the first end-of-image marker: its data escapes 0xFF.
    const Bytes eoi = {0xFF, 0xD9};
    const auto end =
        std::search(file.begin() + std::ptrdiff_t(at), file.end(), eoi.begin(), eoi.end());
    out.insert(out.end(), file.begin() + std::ptrdiff_t(at), std::min(file.end(), end + 2));
    return out;
}

// Where the EXIF block's TIFF header lies in a file: exiftool gives
// offsets from the start of the file.
long TiffHeaderAt(const Bytes& file) {
    const std::string signature("Exif\0\0", 6);
    const auto at = std::search(file.begin(), file.end(), signature.begin(), signature.end());
    return at == file.end() ? 0 : long(at - file.begin()) + 6;
}

Bytes Base64(const std::string& text) {
    const std::string digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    Bytes out;
    std::uint32_t bits = 0;
    int count = 0;
    for (char c : text)
        if (const std::size_t v = digits.find(c); v != std::string::npos) {
            bits = bits << 6 | std::uint32_t(v);
            if ((count += 6) >= 8) out.push_back(std::uint8_t(bits >> (count -= 8)));
        }
    return out;
}

bool IsPicture(const std::string& name) {
    for (const char* picture :
         {"PreviewImage", "ThumbnailImage", "OtherImage", "JpgFromRaw", "PreviewTIFF", "ImageData",
          "PhotoshopThumbnail", "ObjectPreviewData"})
        if (name == picture) return true;
    return false;
}

// What may read otherwise in the output: the values the tool changes, and
// offsets counted from the start of a file whose segments moved. Returns
// why a difference is wrong, or nothing.
std::string Judge(const std::string& key, const Json* in, const Json* out, const Json& input,
                  long shift) {
    const std::string group0 = key.substr(0, key.find(':'));
    const std::string name = key.substr(key.rfind(':') + 1);
    const std::string group1 = key.substr(key.find(':') + 1, key.rfind(':') - key.find(':') - 1);
    const int orientation = input.value("EXIF:IFD0:Orientation", 1);
    const bool quarter = orientation >= 5 && orientation <= 8;
    if (key == "EXIF:IFD0:Copyright" || key == "XMP:XMP-dc:Rights")
        return out && *out == kCopyright ? "" : "not the copyright";
    if (key == "EXIF:IFD0:Orientation" || key == "XMP:XMP-tiff:Orientation")
        return out && *out == 1 ? "" : "not upright";
    for (const std::string d : {"EXIF:ExifIFD:ExifImage", "XMP:XMP-exif:ExifImage"})
        if (quarter && (key == d + "Width" || key == d + "Height")) {
            const std::string other = d + (key == d + "Width" ? "Height" : "Width");
            return out && input.contains(other) && *out == input[other] ? "" : "not swapped";
        }
    if (group1 == "IFD1") return out ? "IFD1 is still there" : "";
    if (IsPicture(name) ||
        ((group0 == "MakerNotes" || group0 == "EXIF") &&
         (name.rfind("PreviewImage", 0) == 0 || name.rfind("ThumbnailImage", 0) == 0)))
        return !out || *out == 0 || *out == "" || name.ends_with("Start")
                   ? ""
                   : "a picture is still there";
    if (in && out && in->is_number() && out->is_number() &&
        (name.ends_with("Offset") || name.ends_with("Start")) &&
        out->get<long>() - in->get<long>() == shift)
        return "";
    return "reads otherwise";
}

TEST(CameraFiles, ConvertedAndStampedTheyKeepEveryTagAndLoseEveryPicture) {
    const std::vector<fs::path> files = CameraFiles();
    if (files.empty()) GTEST_SKIP() << "no camera files at " << SIGILLON_PHOTOS_DIR;
    testing::TempFolder folder;
    for (const char* sub : {"converted", "stamped", "carried"})
        fs::create_directories(folder / sub);
    ASSERT_EQ(SavePictureFileQuiet(*testing::Gradient(40, 30), folder / "stamp.bmp"),
              FileOutcome::Done);

    std::vector<std::string> convert = {
        SIGILLON_BATCH_TOOL, "--copyright", kCopyright, "--to", ".jpg", "--out",
        folder / "converted"};
    std::vector<std::string> stamp = {
        SIGILLON_BATCH_TOOL, "--stamp", folder / "stamp.bmp", "--mode", "3", "--copyright",
        kCopyright,          "--out",   folder / "stamped"};
    std::vector<std::string> inputs, carried, outputs;
    for (const fs::path& file : files) {
        convert.push_back(file);
        inputs.push_back(file);
        carried.push_back(folder / ("carried/" + file.filename().string()));
        testing::WriteAll(carried.back(), CarriedOnly(testing::ReadAll(file)));
        outputs.push_back(folder / ("converted/" + file.filename().string()));
        if (fs::file_size(file) > 100000) {  // the photos large enough to stamp
            stamp.push_back(file);
            inputs.push_back(file);
            carried.push_back(carried.back());
            outputs.push_back(folder / ("stamped/" + file.filename().string()));
        }
    }
    for (const auto* run : {&convert, &stamp}) {
        const testing::ProcessRun ran = testing::RunProcess(*run);
        ASSERT_EQ(ran.status, 0) << ran.err;
        const std::string nikon =
            std::string(SIGILLON_PHOTOS_DIR) +
            "/nikon-d70s-preview.jpg: warning: "
            "removed the maker note's preview picture (Nikon PreviewIFD, 564 x 372)";
        const auto lines = ran.ErrLines();
        EXPECT_NE(std::find(lines.begin(), lines.end(), nikon), lines.end()) << ran.err;
        // A photo turned upright keeps its tables but not its blocks.
        for (const std::string& line : lines)
            EXPECT_TRUE(line.find(": warning: removed the maker note's preview picture (") !=
                            std::string::npos ||
                        line.find(": warning: re-encoded with the input's tables: its EXIF "
                                  "orientation turns it upright") != std::string::npos)
                << line;
    }

    const auto before = ReadTags(carried), after = ReadTags(outputs);
    const auto originals = ReadTags(std::vector<std::string>(inputs.begin(), inputs.end()));
    std::size_t compared = 0;
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        SCOPED_TRACE(outputs[i]);
        const Json& in = before.at(carried[i]);
        const Json& out = after.at(outputs[i]);
        const long shift =
            TiffHeaderAt(testing::ReadAll(outputs[i])) - TiffHeaderAt(testing::ReadAll(carried[i]));
        std::set<std::string> keys;
        for (const auto& [key, value] : in.items()) keys.insert(key);
        for (const auto& [key, value] : out.items()) keys.insert(key);
        for (const std::string& key : keys) {
            const std::string group0 = key.substr(0, key.find(':'));
            if (group0 != "EXIF" && group0 != "MakerNotes" && group0 != "XMP" && group0 != "IPTC" &&
                group0 != "Photoshop" && group0 != "ICC_Profile")
                continue;
            const Json* was = in.contains(key) ? &in[key] : nullptr;
            const Json* is = out.contains(key) ? &out[key] : nullptr;
            ++compared;
            if (was && is && *was == *is) continue;
            const std::string wrong = Judge(key, was, is, in, shift);
            EXPECT_EQ(wrong, "") << key << ": " << (was ? was->dump().substr(0, 80) : "-") << " -> "
                                 << (is ? is->dump().substr(0, 80) : "-");
        }
        // No byte of a picture the input holds is left in the output.
        const Bytes output = testing::ReadAll(outputs[i]);
        for (const auto& [key, value] : originals.at(inputs[i]).items()) {
            if (!IsPicture(key.substr(key.rfind(':') + 1)) || !value.is_string()) continue;
            const Bytes picture = Base64(value.get<std::string>().substr(7));  // after "base64:"
            if (picture.size() < 16) continue;
            EXPECT_EQ(std::search(output.begin(), output.end(), picture.begin(), picture.end()),
                      output.end())
                << key << " of " << picture.size() << " bytes is still in the file";
        }
        // Only the picture itself: no MPF index, nothing after its end.
        for (const auto& [marker, payload] : testing::SegmentsOf(output))
            EXPECT_FALSE(marker == 0xE2 && payload.size() >= 4 &&
                         std::equal(payload.begin(), payload.begin() + 4, "MPF"));
        EXPECT_TRUE(output.size() >= 2 && output[output.size() - 2] == 0xFF &&
                    output.back() == 0xD9);
    }
    ::testing::Test::RecordProperty("tags compared", std::to_string(compared));
    EXPECT_GT(compared, 3000u);

    std::vector<std::string> pictures = {
        SIGILLON_EXIFTOOL, "-a",          "-b",          "-PreviewImage",
        "-ThumbnailImage", "-OtherImage", "-JpgFromRaw", "-PreviewTIFF"};
    pictures.insert(pictures.end(), outputs.begin(), outputs.end());
    EXPECT_EQ(testing::RunProcess(pictures).out, "");
}

TEST(CameraFiles, EveryExifBlockIsEditedInPlaceAndComparedTagByTag) {
    const std::vector<fs::path> files = CameraFiles();
    if (files.empty()) GTEST_SKIP() << "no camera files at " << SIGILLON_PHOTOS_DIR;
    std::size_t withExif = 0;
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.filename().string());
        const Bytes bytes = testing::ReadAll(file);
        PictureMetadata m = ReadJpegMetadata(bytes.data(), bytes.size());
        const bool hadExif = !m.exif.empty();
        MetadataReport report;
        EditMetadata(m, {kCopyright, true, ExifOrientation(m) != 1}, &report);
        EXPECT_EQ(report.exif,
                  hadExif ? MetadataReport::Exif::InPlace : MetadataReport::Exif::Made);
        if (!hadExif) continue;
        ++withExif;
        EXPECT_GT(report.exifTagsCompared, 0u);
        const std::optional<ExifLayout> layout = ReadExifLayout(m.exif);
        ASSERT_TRUE(layout);
        EXPECT_TRUE(layout->pictures.empty()) << layout->pictures.front().what;
    }
    EXPECT_GE(withExif, 30u);
}

}  // namespace
}  // namespace sigillon
