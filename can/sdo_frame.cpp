#include "can/sdo_frame.h"

#include "platform/byte_order.h"

namespace {

// Command bytes (client command specifier in bits 5-7).
constexpr std::uint8_t kUploadInitiate = 0x40;    // ccs 2
constexpr std::uint8_t kDownloadInitiate = 0x20;  // ccs 1
constexpr std::uint8_t kDownloadDone = 0x60;      // scs 3
constexpr std::uint8_t kAbortCommand = 0x80;      // cs 4
constexpr std::uint8_t kExpedited = 0x02;
constexpr std::uint8_t kSizeGiven = 0x01;

CanFrame header_frame(std::uint32_t cob_id, std::uint8_t command, std::uint16_t index,
                      std::uint8_t subindex) {
  CanFrame frame;
  frame.cob_id = cob_id;
  frame.length = 8;
  frame.data[0] = command;
  store_le16(frame.data + 1, index);
  frame.data[3] = subindex;
  return frame;
}

// Expedited command with the count of unused data bytes in bits 2-3.
std::uint8_t expedited_command(std::uint8_t base, std::size_t size) {
  return static_cast<std::uint8_t>(base | kExpedited | kSizeGiven | ((4 - size) << 2));
}

std::uint16_t frame_index(const CanFrame& frame) { return load_le16(frame.data + 1); }

std::uint32_t frame_u32(const CanFrame& frame) { return load_le32(frame.data + 4); }

SdoReply protocol_error(std::uint32_t code) {
  SdoReply reply;
  reply.kind = SdoReply::kProtocolError;
  reply.abort_code = code;
  return reply;
}

}  // namespace

CanFrame sdo_upload_request(std::uint8_t node, std::uint16_t index, std::uint8_t subindex) {
  return header_frame(kSdoRequestBase + node, kUploadInitiate, index, subindex);
}

CanFrame sdo_download_request(std::uint8_t node, std::uint16_t index, std::uint8_t subindex,
                              const std::uint8_t* bytes, std::size_t size) {
  CanFrame frame = header_frame(kSdoRequestBase + node, expedited_command(kDownloadInitiate, size),
                                index, subindex);
  for (std::size_t i = 0; i < size && i < 4; ++i) frame.data[4 + i] = bytes[i];
  return frame;
}

CanFrame sdo_abort_frame(std::uint32_t cob_id, std::uint16_t index, std::uint8_t subindex,
                         std::uint32_t code) {
  CanFrame frame = header_frame(cob_id, kAbortCommand, index, subindex);
  store_le32(frame.data + 4, code);
  return frame;
}

CanFrame sdo_upload_reply(std::uint8_t node, std::uint16_t index, std::uint8_t subindex,
                          const std::uint8_t* bytes, std::size_t size) {
  CanFrame frame =
      header_frame(kSdoReplyBase + node, expedited_command(kUploadInitiate, size), index, subindex);
  for (std::size_t i = 0; i < size && i < 4; ++i) frame.data[4 + i] = bytes[i];
  return frame;
}

CanFrame sdo_download_reply(std::uint8_t node, std::uint16_t index, std::uint8_t subindex) {
  return header_frame(kSdoReplyBase + node, kDownloadDone, index, subindex);
}

SdoRequest sdo_decode_request(const CanFrame& frame) {
  SdoRequest request;
  if (frame.length < 4) return request;
  request.index = frame_index(frame);
  request.subindex = frame.data[3];
  std::uint8_t command = frame.data[0];
  switch (command & 0xE0) {
    case kUploadInitiate:
      request.kind = SdoRequest::kUpload;
      break;
    case kDownloadInitiate: {
      // Only expedited downloads with a size fit in one frame.
      if ((command & (kExpedited | kSizeGiven)) != (kExpedited | kSizeGiven)) break;
      std::uint8_t size = static_cast<std::uint8_t>(4 - ((command >> 2) & 3));
      if (frame.length < 4 + size) break;
      request.kind = SdoRequest::kDownload;
      request.size = size;
      for (int i = 0; i < size; ++i) request.data[i] = frame.data[4 + i];
      break;
    }
    case kAbortCommand:
      if (frame.length < 8) break;
      request.kind = SdoRequest::kAbort;
      request.abort_code = frame_u32(frame);
      break;
    default:
      break;
  }
  return request;
}

SdoReply sdo_decode_reply(const CanFrame& frame, bool upload, std::uint16_t index,
                          std::uint8_t subindex) {
  if (frame.length < 4) return protocol_error(kAbortUnknownCommand);
  std::uint8_t command = frame.data[0];
  bool same_object = frame_index(frame) == index && frame.data[3] == subindex;

  if ((command & 0xE0) == kAbortCommand) {
    if (frame.length < 8) return protocol_error(kAbortUnknownCommand);
    SdoReply reply;
    reply.kind = SdoReply::kAbort;
    reply.abort_code = frame_u32(frame);
    return reply;
  }
  if (!same_object) return protocol_error(kAbortParameterIncompatible);

  if (!upload) {
    if (command != kDownloadDone) return protocol_error(kAbortUnknownCommand);
    SdoReply reply;
    reply.kind = SdoReply::kDownloadDone;
    return reply;
  }
  if ((command & 0xE0) != kUploadInitiate) return protocol_error(kAbortUnknownCommand);
  // A segmented upload (no expedited bit) does not fit an expedited client.
  if (!(command & kExpedited)) return protocol_error(kAbortUnknownCommand);
  std::uint8_t size = 4;
  if (command & kSizeGiven) size = static_cast<std::uint8_t>(4 - ((command >> 2) & 3));
  if (frame.length < 4 + size) return protocol_error(kAbortUnknownCommand);
  SdoReply reply;
  reply.kind = SdoReply::kUploadData;
  reply.size = size;
  for (int i = 0; i < size; ++i) reply.data[i] = frame.data[4 + i];
  return reply;
}
