// The copyright, orientation and pictures changed in an XMP packet's text,
// where they lie, so that nothing else in the packet is written again: Exiv2's
// XMP toolkit, writing a packet anew, normalises old packets (an
// rdf:about that is a UUID becomes xmpMM:InstanceID) and names itself as
// the toolkit.
//
// The orientation and pixel dimensions are replaced in their attribute or
// element; a dc:rights element is replaced whole, or, when there is none,
// one is added in an rdf:Description of its own at the end of the RDF;
// properties holding pictures are cut out, attribute or element. The
// packet's padding gives back what the text grew by. A packet in UTF-16 is
// turned into UTF-8 first, the encoding XMP takes in JPEG files. Nothing here parses
// XML: the caller reads the result with Exiv2 and compares.
#pragma once

#include <optional>
#include <string>

namespace sigillon {

struct XmpTextChanges {
    std::optional<std::string> copyright;
    bool resetOrientation = false;
    bool quarterTurn = false;   // the pixel width and height change places
    bool dropPictures = false;  // the XMP thumbnails, Google's picture and depth map
    // xmpNote:HasExtendedXMP becomes this GUID, or goes when it is empty.
    std::optional<std::string> extendedNote;
};

// Nothing when the text is not laid out as this expects (a property named
// twice, a namespace declared in an unusual way).
std::optional<std::string> EditXmpText(const std::string& packet, const XmpTextChanges& changes);

}  // namespace sigillon
