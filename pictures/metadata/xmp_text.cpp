#include "pictures/metadata/xmp_text.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string_view>

namespace sigillon {
namespace {

constexpr std::string_view kRdf = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";
constexpr std::string_view kDc = "http://purl.org/dc/elements/1.1/";
constexpr std::string_view kTiff = "http://ns.adobe.com/tiff/1.0/";
constexpr std::string_view kExif = "http://ns.adobe.com/exif/1.0/";
constexpr std::string_view kNote = "http://ns.adobe.com/xmp/note/";

// Properties that hold pictures, by namespace and name.
constexpr std::pair<std::string_view, std::string_view> kPictures[] = {
    {"http://ns.adobe.com/xap/1.0/", "Thumbnails"},
    {"http://ns.google.com/photos/1.0/image/", "Data"},
    {"http://ns.google.com/photos/1.0/depthmap/", "Data"},
    {"http://ns.google.com/photos/1.0/depthmap/", "Confidence"},
};

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != text.npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// The prefix declared for a namespace (xmlns:P="uri"); empty when the
// packet does not declare it, nothing when it declares it in more than one
// way.
std::optional<std::string> Prefix(const std::string& text, std::string_view uri) {
    std::optional<std::string> found;
    for (char quote : {'"', '\''}) {
        const std::string value = "=" + std::string(1, quote) + std::string(uri) + quote;
        for (std::size_t at = text.find(value); at != text.npos; at = text.find(value, at + 1)) {
            std::size_t begin = at;
            while (begin > 0 && text[begin - 1] != ' ' && text[begin - 1] != '\t' &&
                   text[begin - 1] != '\n' && text[begin - 1] != '\r')
                --begin;
            const std::string name = text.substr(begin, at - begin);
            if (name.compare(0, 6, "xmlns:") != 0) continue;
            if (found && *found != name.substr(6)) return std::nullopt;
            found = name.substr(6);
        }
    }
    return found ? found : std::optional<std::string>(std::string());
}

// Where the value of a simple property P:name lies, as an attribute
// (P:name="v") or an element (<P:name>v</P:name>); nothing when it is
// there in neither way, or more than once.
struct Place {
    std::size_t begin = 0, end = 0;
};
std::optional<Place> FindValue(const std::string& text, const std::string& property) {
    const std::string attribute = property + "=", element = "<" + property + ">";
    const std::size_t attributes = Count(text, " " + attribute) + Count(text, "\n" + attribute) +
                                   Count(text, "\t" + attribute);
    const std::size_t elements = Count(text, element);
    if (attributes + elements != 1) return std::nullopt;
    if (elements == 1) {
        const std::size_t begin = text.find(element) + element.size();
        const std::size_t end = text.find('<', begin);
        if (end == text.npos) return std::nullopt;
        return Place{begin, end};
    }
    const std::size_t at = text.find(attribute);
    const std::size_t begin = at + attribute.size() + 1;
    if (begin > text.size()) return std::nullopt;
    const char quote = text[begin - 1];
    const std::size_t end = text.find(quote, begin);
    if ((quote != '"' && quote != '\'') || end == text.npos) return std::nullopt;
    return Place{begin, end};
}

std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// False when the property is there but cannot be changed here.
bool ResetOrientation(std::string& text, bool quarterTurn) {
    const std::optional<std::string> tiff = Prefix(text, kTiff);
    if (!tiff) return false;
    if (tiff->empty() || text.find(*tiff + ":Orientation") == text.npos) return true;
    const std::optional<Place> orientation = FindValue(text, *tiff + ":Orientation");
    if (!orientation) return false;
    const std::string was = text.substr(orientation->begin, orientation->end - orientation->begin);
    if (was == "1") return true;
    text.replace(orientation->begin, orientation->end - orientation->begin, "1");
    if (!quarterTurn) return true;
    const std::optional<std::string> exif = Prefix(text, kExif);
    if (!exif) return false;
    if (exif->empty()) return true;
    const std::optional<Place> x = FindValue(text, *exif + ":PixelXDimension");
    const std::optional<Place> y = FindValue(text, *exif + ":PixelYDimension");
    if (!x || !y) return true;  // the two are swapped together or not at all
    const std::string width = text.substr(x->begin, x->end - x->begin);
    const std::string height = text.substr(y->begin, y->end - y->begin);
    // The later one first, so that the earlier place stays where it is.
    const Place& first = x->begin < y->begin ? *x : *y;
    const Place& second = x->begin < y->begin ? *y : *x;
    const bool xFirst = x->begin < y->begin;
    text.replace(second.begin, second.end - second.begin, xFirst ? width : height);
    text.replace(first.begin, first.end - first.begin, xFirst ? height : width);
    return true;
}

bool WriteCopyright(std::string& text, const std::string& copyright) {
    const std::optional<std::string> rdf = Prefix(text, kRdf);
    const std::optional<std::string> dc = Prefix(text, kDc);
    if (!rdf || rdf->empty() || !dc) return false;
    const std::string r = *rdf;
    const std::string alt = "<" + r + ":Alt><" + r + ":li xml:lang=\"x-default\">" +
                            Escaped(copyright) + "</" + r + ":li></" + r + ":Alt>";
    if (!dc->empty() && text.find("<" + *dc + ":rights") != text.npos) {
        const std::string open = "<" + *dc + ":rights>", close = "</" + *dc + ":rights>";
        const std::size_t begin = text.find(open), end = text.find(close);
        if (Count(text, "<" + *dc + ":rights") != 1 || begin == text.npos || end == text.npos ||
            end < begin)
            return false;
        text.replace(begin, end - begin, open + alt);
        return true;
    }
    // A description of its own, about what the others are about.
    const std::string closeRdf = "</" + r + ":RDF>";
    const std::size_t at = text.find(closeRdf);
    if (at == text.npos || Count(text, closeRdf) != 1) return false;
    std::string about;
    if (const std::size_t a = text.find(r + ":about="); a != text.npos) {
        const std::size_t begin = a + r.size() + 8;
        const std::size_t end =
            begin <= text.size() ? text.find(text[begin - 1], begin) : text.npos;
        if (end == text.npos || (text[begin - 1] != '"' && text[begin - 1] != '\'')) return false;
        about = text.substr(begin, end - begin);
        if (about.find('"') != about.npos) return false;
    }
    text.insert(at, "<" + r + ":Description " + r + ":about=\"" + about + "\" xmlns:dc=\"" +
                        std::string(kDc) + "\"><dc:rights>" + alt + "</dc:rights></" + r +
                        ":Description>");
    return true;
}

// Cuts out property P:name, an attribute (with the space before it) or an
// element; false when it is there more than once or its end is missing.
bool RemoveProperty(std::string& text, const std::string& property) {
    const std::string open = "<" + property, close = "</" + property + ">";
    std::size_t elements = 0;
    for (std::size_t at = text.find(open); at != text.npos; at = text.find(open, at + 1))
        if (at + open.size() < text.size() &&
            (text[at + open.size()] == '>' ||
             std::isspace(static_cast<unsigned char>(text[at + open.size()])) ||
             text[at + open.size()] == '/'))
            ++elements;
    std::size_t attributes = 0, attributeAt = text.npos;
    for (char space : {' ', '\t', '\n', '\r'}) {
        const std::string attribute = std::string(1, space) + property + "=";
        for (std::size_t at = text.find(attribute); at != text.npos;
             at = text.find(attribute, at + 1))
            ++attributes, attributeAt = at;
    }
    if (elements + attributes > 1) return false;
    if (attributes == 1) {
        const std::size_t valueAt = attributeAt + property.size() + 3;
        if (valueAt > text.size()) return false;
        const std::size_t end = text.find(text[valueAt - 1], valueAt);
        if (end == text.npos) return false;
        text.erase(attributeAt, end + 1 - attributeAt);
    } else if (elements == 1) {
        std::size_t begin = text.find(open);
        const std::size_t selfClosing = text.find("/>", begin), tagEnd = text.find('>', begin);
        if (tagEnd == text.npos) return false;
        std::size_t end = tagEnd + 1;
        if (selfClosing == text.npos || selfClosing + 1 != tagEnd) {
            end = text.find(close, begin);
            if (end == text.npos) return false;
            end += close.size();
        }
        // The element's line goes with it when nothing else is on it.
        while (begin > 0 && (text[begin - 1] == ' ' || text[begin - 1] == '\t')) --begin;
        if (end < text.size() && text[end] == '\n' && (begin == 0 || text[begin - 1] == '\n'))
            ++end;
        text.erase(begin, end - begin);
    }
    return true;
}

bool RemovePictures(std::string& text) {
    for (const auto& [uri, name] : kPictures) {
        const std::optional<std::string> prefix = Prefix(text, uri);
        if (!prefix) return false;
        if (!prefix->empty() && !RemoveProperty(text, *prefix + ":" + std::string(name)))
            return false;
    }
    return true;
}

// The padding before the packet's end marker gives back what the text
// grew by, from the start of the padding.
void GiveBackPadding(std::string& text, std::size_t grew) {
    const std::size_t marker = text.rfind("<?xpacket end=");
    if (marker == text.npos) return;
    std::size_t begin = marker;
    while (begin > 0 && std::isspace(static_cast<unsigned char>(text[begin - 1]))) --begin;
    const std::size_t end = marker > begin && text[marker - 1] == '\n' ? marker - 1 : marker;
    if (end > begin) text.erase(begin, std::min(grew, end - begin));
}

// A packet in UTF-16 (some cameras and old writers use it) as UTF-8, the
// encoding XMP takes in JPEG files; any other packet as it is.
std::optional<std::string> AsUtf8(const std::string& packet) {
    if (packet.size() < 2 || packet.size() % 2 != 0) return packet;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(packet[i]); };
    bool big;
    if ((byte(0) == 0xFE && byte(1) == 0xFF) || (byte(0) == 0 && byte(1) != 0))
        big = true;
    else if ((byte(0) == 0xFF && byte(1) == 0xFE) || (byte(0) != 0 && byte(1) == 0))
        big = false;
    else
        return packet;
    auto unit = [&](std::size_t i) -> std::uint32_t {
        return big ? byte(i) << 8 | byte(i + 1) : byte(i + 1) << 8 | byte(i);
    };
    std::string out;
    for (std::size_t i = 0; i < packet.size(); i += 2) {
        std::uint32_t c = unit(i);
        if (c >= 0xD800 && c < 0xDC00) {  // a surrogate pair
            if (i + 2 >= packet.size() || unit(i + 2) < 0xDC00 || unit(i + 2) >= 0xE000)
                return std::nullopt;
            c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
            i += 2;
        } else if (c >= 0xDC00 && c < 0xE000) {
            return std::nullopt;
        }
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | c >> 6), out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | c >> 12), out += char(0x80 | (c >> 6 & 0x3F)),
                out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | c >> 18), out += char(0x80 | (c >> 12 & 0x3F));
            out += char(0x80 | (c >> 6 & 0x3F)), out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace

std::optional<std::string> EditXmpText(const std::string& packet, const XmpTextChanges& changes) {
    const std::optional<std::string> utf8 = AsUtf8(packet);
    if (!utf8) return std::nullopt;
    std::string text = *utf8;
    if (changes.dropPictures && !RemovePictures(text)) return std::nullopt;
    if (changes.resetOrientation && !ResetOrientation(text, changes.quarterTurn))
        return std::nullopt;
    if (changes.copyright && !WriteCopyright(text, *changes.copyright)) return std::nullopt;
    if (changes.extendedNote) {
        const std::optional<std::string> note = Prefix(text, kNote);
        if (!note || note->empty()) return std::nullopt;
        const std::string property = *note + ":HasExtendedXMP";
        if (changes.extendedNote->empty()) {
            if (!RemoveProperty(text, property)) return std::nullopt;
        } else {
            const std::optional<Place> guid = FindValue(text, property);
            if (!guid) return std::nullopt;
            text.replace(guid->begin, guid->end - guid->begin, *changes.extendedNote);
        }
    }
    if (text.size() > utf8->size()) GiveBackPadding(text, text.size() - utf8->size());
    return text;
}

}  // namespace sigillon
