// MD5 (RFC 1321), which metadata uses to name what it holds: the GUID of an
// extended XMP packet is its digest in hex, and Photoshop's IPTC digest
// resource is the digest of the IPTC data. Not for security.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace sigillon {

std::array<std::uint8_t, 16> Md5(const std::uint8_t* data, std::size_t size);

// The digest as 32 upper-case hex digits, as extended XMP names itself.
std::string Md5Hex(const std::uint8_t* data, std::size_t size);

}  // namespace sigillon
