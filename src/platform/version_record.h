// The version record of a module on systems without version resources: the fixed part of a
// Windows version resource (VS_FIXEDFILEINFO, same fields and order), stored in a section of its
// own, ".zk_version", which FileVersion finds by name in the module's file. A stand-in built
// with a version carries one (see zk_add_standin VERSION).
#pragma once

#include <cstdint>

namespace zk::platform {

struct TVersionRecord {
  uint32_t Signature;  // kVersionSignature
  uint32_t StrucVersion;
  uint32_t FileVersionMS;  // major << 16 | minor
  uint32_t FileVersionLS;  // release << 16 | build
  uint32_t ProductVersionMS;
  uint32_t ProductVersionLS;
  uint32_t FileFlagsMask;
  uint32_t FileFlags;
  uint32_t FileOS;
  uint32_t FileType;
  uint32_t FileSubtype;
  uint32_t FileDateMS;
  uint32_t FileDateLS;
};
static_assert(sizeof(TVersionRecord) == 52, "the layout of VS_FIXEDFILEINFO");

constexpr uint32_t kVersionSignature = 0xFEEF04BDu;
constexpr const char* kVersionSection = ".zk_version";

constexpr TVersionRecord MakeVersionRecord(uint32_t major, uint32_t minor, uint32_t release, uint32_t build) {
  return TVersionRecord{kVersionSignature, 0x00010000u, major << 16 | minor, release << 16 | build,
                        major << 16 | minor, release << 16 | build, 0x3Fu, 0u, 0x00040004u /* NT, Win32 */,
                        2u /* DLL */, 0u, 0u, 0u};
}

}  // namespace zk::platform

// Places the module's version record; once per module, at namespace scope.
#define ZK_VERSION_RECORD(major, minor, release, build)                                              \
  extern "C" __attribute__((section(".zk_version"), used)) const ::zk::platform::TVersionRecord \
      zk_version_record = ::zk::platform::MakeVersionRecord(major, minor, release, build)
