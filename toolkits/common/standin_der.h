// The DER writer of the stand-ins: what they build by hand because libksba cannot write it
// (certificates, CRLs, CMS, exported keys). Each function returns one whole element.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace standin::der {

using Bytes = std::vector<uint8_t>;

// Tag and length of `length` content bytes that follow.
void AppendHeader(Bytes& out, uint8_t tag, size_t length);
Bytes Header(uint8_t tag, size_t length);
Bytes Tlv(uint8_t tag, const Bytes& content);
Bytes Concat(const std::vector<Bytes>& parts);
Bytes Seq(const std::vector<Bytes>& items);
Bytes Set(std::vector<Bytes> items);  // sorted, as DER wants a SET OF
Bytes Int(const Bytes& magnitude);    // unsigned big-endian magnitude, leading zeros allowed
Bytes SmallInt(uint64_t value);
Bytes Oid(const char* dotted);
Bytes Null();
Bytes Bool(bool value);
Bytes Octets(const Bytes& value);
Bytes Bits(const Bytes& value, int unusedBits = 0);
Bytes Utf8(const std::string& text);
Bytes Time(std::time_t t);  // UTCTime from 1950 to 2049, else GeneralizedTime

}  // namespace standin::der
