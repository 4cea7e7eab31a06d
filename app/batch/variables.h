// Variables in --text, --copyright and --name: {name}, {stem}, {ext},
// {date:FORMAT}, {year}, {artist}, {make}, {model}, {exif:KEY}; {{ and }}
// are literal braces. A text is parsed once, at the start, and expanded
// for each picture from what is known of it.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace sigillon::batch {

// What a picture's variables expand to. ext is the output's extension,
// with its dot, so that "{stem}-web{ext}" names a file of the right type.
struct PictureFacts {
    std::string name;  // the input's file name
    std::string stem;  // the output's name before its extension
    std::string ext;
    std::map<std::string, std::string> exif;  // EXIF key -> value, for the keys asked for
};

class TextTemplate {
public:
    // The template of text, or why it is none (an unknown variable, an
    // unbalanced brace) in problem.
    static TextTemplate Parse(const std::string& text, std::string& problem);

    bool HasVariables() const;
    // The EXIF keys its variables read.
    std::vector<std::string> ExifKeys() const;
    // The text for one picture. A value the picture lacks is empty and
    // named in missing; values pass through clean first (as --name cleans
    // a '/' out of them).
    std::string Expand(const PictureFacts& facts, std::vector<std::string>& missing,
                       std::string (*clean)(std::string) = nullptr) const;

private:
    enum class Kind { Literal, Name, Stem, Ext, Date, Year, Exif };
    struct Part {
        Kind kind;
        std::string text;  // the literal, the date's format or the EXIF key
        std::string shown; // the variable as written, for warnings
    };
    std::vector<Part> parts_;
};

// The tag {date:...} and {year} read.
inline constexpr const char* kDateTakenKey = "Exif.Photo.DateTimeOriginal";

}  // namespace sigillon::batch
