#include "app/batch/variables.h"

#include <cstdio>
#include <ctime>
#include <set>

#include "pictures/metadata/exif_values.h"

namespace sigillon::batch {
namespace {

// EXIF dates are "YYYY:MM:DD HH:MM:SS"; a camera that never had its clock
// set writes spaces or zeros, which is no date.
bool ParseExifDate(const std::string& text, std::tm& date) {
    int year, month, day, hour = 0, minute = 0, second = 0;
    const int read = std::sscanf(text.c_str(), "%4d:%2d:%2d %2d:%2d:%2d", &year, &month, &day,
                                 &hour, &minute, &second);
    if (read < 3 || year < 1 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 ||
        minute > 59 || second > 60)
        return false;
    date = {};
    date.tm_year = year - 1900;
    date.tm_mon = month - 1;
    date.tm_mday = day;
    date.tm_hour = hour;
    date.tm_min = minute;
    date.tm_sec = second;
    // Fills in the day of the week and of the year for %a, %j and the like.
    std::tm normal = date;
    normal.tm_isdst = -1;
    if (std::mktime(&normal) != -1) {
        date.tm_wday = normal.tm_wday;
        date.tm_yday = normal.tm_yday;
    }
    return true;
}

std::string FormatDate(const std::tm& date, const std::string& format) {
    char buffer[512];
    const std::size_t length = std::strftime(buffer, sizeof buffer, format.c_str(), &date);
    return std::string(buffer, length);
}

}  // namespace

TextTemplate TextTemplate::Parse(const std::string& text, std::string& problem) {
    TextTemplate parsed;
    std::string literal;
    auto flush = [&] {
        if (!literal.empty()) parsed.parts_.push_back({Kind::Literal, std::move(literal), {}});
        literal.clear();
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if ((c == '{' || c == '}') && i + 1 < text.size() && text[i + 1] == c) {
            literal += c;
            ++i;
            continue;
        }
        if (c == '}') {
            problem = "a } without its { (write }} for a brace)";
            return {};
        }
        if (c != '{') {
            literal += c;
            continue;
        }
        const std::size_t end = text.find_first_of("{}", i + 1);
        if (end == std::string::npos || text[end] != '}') {
            problem = "a { without its } (write {{ for a brace)";
            return {};
        }
        const std::string name = text.substr(i + 1, end - i - 1);
        const std::string shown = "{" + name + "}";
        i = end;
        flush();
        static const std::map<std::string, std::pair<Kind, const char*>> kSimple = {
            {"name", {Kind::Name, ""}},
            {"stem", {Kind::Stem, ""}},
            {"ext", {Kind::Ext, ""}},
            {"year", {Kind::Year, kDateTakenKey}},
            {"artist", {Kind::Exif, "Exif.Image.Artist"}},
            {"make", {Kind::Exif, "Exif.Image.Make"}},
            {"model", {Kind::Exif, "Exif.Image.Model"}},
        };
        if (auto simple = kSimple.find(name); simple != kSimple.end()) {
            parsed.parts_.push_back({simple->second.first, simple->second.second, shown});
        } else if (name.rfind("date:", 0) == 0 && name.size() > 5) {
            parsed.parts_.push_back({Kind::Date, name.substr(5), shown});
        } else if (name.rfind("exif:", 0) == 0 && IsExifKey(name.substr(5))) {
            parsed.parts_.push_back({Kind::Exif, name.substr(5), shown});
        } else {
            problem = "unknown variable " + shown +
                      " (known: {name} {stem} {ext} {date:FORMAT} {year} {artist} {make} "
                      "{model} {exif:KEY}; {{ and }} for braces)";
            return {};
        }
    }
    flush();
    return parsed;
}

bool TextTemplate::HasVariables() const {
    for (const Part& part : parts_)
        if (part.kind != Kind::Literal) return true;
    return false;
}

std::vector<std::string> TextTemplate::ExifKeys() const {
    std::set<std::string> keys;
    for (const Part& part : parts_)
        if (part.kind == Kind::Exif) keys.insert(part.text);
        else if (part.kind == Kind::Date || part.kind == Kind::Year) keys.insert(kDateTakenKey);
    return {keys.begin(), keys.end()};
}

std::string TextTemplate::Expand(const PictureFacts& facts, std::vector<std::string>& missing,
                                 std::string (*clean)(std::string)) const {
    std::string text;
    for (const Part& part : parts_) {
        std::string value;
        bool lacking = false;
        std::string lacked;
        switch (part.kind) {
            case Kind::Literal: text += part.text; continue;
            case Kind::Name: value = facts.name; break;
            case Kind::Stem: value = facts.stem; break;
            case Kind::Ext: value = facts.ext; break;
            case Kind::Exif: {
                auto found = facts.exif.find(part.text);
                if (found != facts.exif.end())
                    value = found->second;
                else
                    lacking = true, lacked = "no " + part.text;
                break;
            }
            case Kind::Date:
            case Kind::Year: {
                auto found = facts.exif.find(kDateTakenKey);
                std::tm date;
                if (found == facts.exif.end())
                    lacking = true, lacked = std::string("no ") + kDateTakenKey;
                else if (!ParseExifDate(found->second, date))
                    lacking = true, lacked = std::string(kDateTakenKey) + " \"" + found->second +
                                             "\" is no date";
                else
                    value = FormatDate(date, part.kind == Kind::Year ? "%Y" : part.text);
                break;
            }
        }
        if (lacking) {
            missing.push_back(part.shown + " is empty: the picture has " + lacked);
            continue;
        }
        text += clean ? clean(std::move(value)) : value;
    }
    return text;
}

}  // namespace sigillon::batch
