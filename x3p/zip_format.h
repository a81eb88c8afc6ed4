// The ZIP records that both the writer and the reader know: their
// signatures and fixed sizes, and the 32-bit value that defers a field to
// the ZIP64 extra field.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr std::uint32_t kZipLocalSignature = 0x04034b50;
inline constexpr std::uint32_t kZipCentralSignature = 0x02014b50;
inline constexpr std::uint32_t kZipEndSignature = 0x06054b50;
inline constexpr std::uint32_t kZip64EndSignature = 0x06064b50;
inline constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;

// Fixed parts of the records, before their names, extra fields and comments.
inline constexpr std::size_t kZipLocalSize = 30;
inline constexpr std::size_t kZipCentralSize = 46;
inline constexpr std::size_t kZipEndSize = 22;
inline constexpr std::size_t kZip64EndSize = 56;
inline constexpr std::size_t kZip64LocatorSize = 20;

// A 32-bit size or offset with every bit set: see the ZIP64 extra field.
inline constexpr std::uint32_t kZipMarked = 0xFFFFFFFF;
