// Base64 (RFC 2045 / RFC 4648 alphabet) over memory buffers, without line breaks.
// Both functions allocate the output with malloc; the caller releases it with MimeFree.
// On any failure *Out is null and *OutLen 0.
#pragma once

#include <cstdint>

namespace zk {

void MimeEncode(const uint8_t* Data, int32_t Len, uint8_t** Out, int32_t* OutLen);
// Skips characters outside the alphabet, stops at the first "="; Len must be a multiple of 4.
void MimeDecode(const uint8_t* Text, int32_t Len, uint8_t** Out, int32_t* OutLen);
void MimeFree(uint8_t* Block);

}  // namespace zk
