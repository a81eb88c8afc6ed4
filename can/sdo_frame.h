// Expedited SDO frames: the 8-byte CAN messages of one object-dictionary read
// or write (client request on COB-ID 0x600 + node, server reply on
// 0x580 + node). Byte 0 is the command, bytes 1-2 the index (little-endian),
// byte 3 the subindex, bytes 4-7 the data or the abort code (little-endian).
#pragma once

#include <cstddef>
#include <cstdint>

struct CanFrame {
  std::uint32_t cob_id = 0;
  std::uint8_t length = 0;  // data length code, 0..8
  std::uint8_t data[8] = {};
};

inline constexpr std::uint32_t kSdoRequestBase = 0x600;
inline constexpr std::uint32_t kSdoReplyBase = 0x580;

// Standard SDO abort codes used by the layer.
inline constexpr std::uint32_t kAbortTimeout = 0x05040000;
inline constexpr std::uint32_t kAbortUnknownCommand = 0x05040001;
inline constexpr std::uint32_t kAbortUnsupportedAccess = 0x06010000;
inline constexpr std::uint32_t kAbortReadWriteOnly = 0x06010001;
inline constexpr std::uint32_t kAbortWriteReadOnly = 0x06010002;
inline constexpr std::uint32_t kAbortNoObject = 0x06020000;
inline constexpr std::uint32_t kAbortParameterIncompatible = 0x06040043;
inline constexpr std::uint32_t kAbortHardware = 0x06060000;
inline constexpr std::uint32_t kAbortLengthMismatch = 0x06070010;
inline constexpr std::uint32_t kAbortLengthTooHigh = 0x06070012;
inline constexpr std::uint32_t kAbortNoSubindex = 0x06090011;
inline constexpr std::uint32_t kAbortValueRange = 0x06090030;
inline constexpr std::uint32_t kAbortGeneral = 0x08000000;
inline constexpr std::uint32_t kAbortDeviceState = 0x08000022;

// What an object-dictionary entry allows over SDO.
enum class CanObjectAccess : std::uint8_t { kReadOnly, kWriteOnly, kReadWrite };

// Client requests.
CanFrame sdo_upload_request(std::uint8_t node, std::uint16_t index, std::uint8_t subindex);
// `size` is 1..4 bytes taken from `bytes`.
CanFrame sdo_download_request(std::uint8_t node, std::uint16_t index, std::uint8_t subindex,
                              const std::uint8_t* bytes, std::size_t size);
// An abort sent by either side; `cob_id` says which way it goes.
CanFrame sdo_abort_frame(std::uint32_t cob_id, std::uint16_t index, std::uint8_t subindex,
                         std::uint32_t code);

// Server replies.
CanFrame sdo_upload_reply(std::uint8_t node, std::uint16_t index, std::uint8_t subindex,
                          const std::uint8_t* bytes, std::size_t size);
CanFrame sdo_download_reply(std::uint8_t node, std::uint16_t index, std::uint8_t subindex);

// A request as the server sees it.
struct SdoRequest {
  enum Kind { kUpload, kDownload, kAbort, kInvalid } kind = kInvalid;
  std::uint16_t index = 0;
  std::uint8_t subindex = 0;
  std::uint8_t size = 0;  // download: data bytes given (1..4)
  std::uint8_t data[4] = {};
  std::uint32_t abort_code = 0;
};
SdoRequest sdo_decode_request(const CanFrame& frame);

// A reply as the client sees it, checked against the request it answers.
// Frames shorter than 8 bytes are accepted when they hold every byte their
// command needs (4 + data bytes, or 8 for an abort).
struct SdoReply {
  enum Kind {
    kUploadData,    // expedited upload; `size` bytes in `data`
    kDownloadDone,  // the write was confirmed
    kAbort,         // the server aborted with `abort_code`
    kProtocolError  // not a fitting reply; `abort_code` is what the client aborts with
  } kind = kProtocolError;
  std::uint8_t size = 0;  // upload data bytes, 1..4 (4 when the reply gives no size)
  std::uint8_t data[4] = {};
  std::uint32_t abort_code = 0;
};
// `upload` tells which request was sent.
SdoReply sdo_decode_reply(const CanFrame& frame, bool upload, std::uint16_t index,
                          std::uint8_t subindex);
