// Fuzzes the SDO frame decoders and a simulated node's SDO server with frames
// as they could arrive from the bus. Besides "no crash" it checks that bytes
// past a frame's length never change what is decoded, that whatever decodes
// as a transfer encodes back to the same transfer, and that the server's
// answer to a request is one the client's decoder accepts, with the value
// the object dictionary holds or was given.
//
// Input: byte 0 flags (bit 0: the client sent an upload request), byte 1 the
// frame length, bytes 2-3 the index the client asked for (little-endian),
// byte 4 its subindex, bytes 5-12 the frame's data; missing bytes are 0.
#include <cstdint>
#include <cstring>

#include "can/sdo_frame.h"
#include "can/sim/sim_bridge.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr std::uint8_t kNode = 5;

std::uint32_t le32(const std::uint8_t* bytes, std::size_t size) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < size; ++i) value |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
  return value;
}

// The frame with every byte past its length inverted.
CanFrame with_other_tail(CanFrame frame) {
  for (std::size_t i = frame.length; i < sizeof frame.data; ++i)
    frame.data[i] = static_cast<std::uint8_t>(~frame.data[i]);
  return frame;
}

bool same(const SdoReply& a, const SdoReply& b) {
  return a.kind == b.kind && a.size == b.size && a.abort_code == b.abort_code &&
         std::memcmp(a.data, b.data, a.size) == 0;
}

bool same(const SdoRequest& a, const SdoRequest& b) {
  return a.kind == b.kind && a.index == b.index && a.subindex == b.subindex && a.size == b.size &&
         a.abort_code == b.abort_code && std::memcmp(a.data, b.data, a.size) == 0;
}

void check_reply(const CanFrame& frame, bool upload, std::uint16_t index, std::uint8_t subindex) {
  SdoReply reply = sdo_decode_reply(frame, upload, index, subindex);
  FUZZ_CHECK(same(reply, sdo_decode_reply(with_other_tail(frame), upload, index, subindex)));
  bool same_object = frame.length >= 4 && (frame.data[1] | frame.data[2] << 8) == index &&
                     frame.data[3] == subindex;
  switch (reply.kind) {
    case SdoReply::kUploadData: {
      FUZZ_CHECK(upload && same_object);
      FUZZ_CHECK(reply.size >= 1 && reply.size <= 4 && frame.length >= 4 + reply.size);
      FUZZ_CHECK(std::memcmp(reply.data, frame.data + 4, reply.size) == 0);
      CanFrame again = sdo_upload_reply(kNode, index, subindex, reply.data, reply.size);
      FUZZ_CHECK(same(reply, sdo_decode_reply(again, true, index, subindex)));
      break;
    }
    case SdoReply::kDownloadDone:
      FUZZ_CHECK(!upload && same_object);
      break;
    case SdoReply::kAbort:
      FUZZ_CHECK(frame.length >= 8 && reply.abort_code == le32(frame.data + 4, 4));
      break;
    case SdoReply::kProtocolError:
      FUZZ_CHECK(reply.abort_code == kAbortUnknownCommand ||
                 reply.abort_code == kAbortParameterIncompatible);
      break;
  }
}

SdoRequest check_request(const CanFrame& frame) {
  SdoRequest request = sdo_decode_request(frame);
  FUZZ_CHECK(same(request, sdo_decode_request(with_other_tail(frame))));
  switch (request.kind) {
    case SdoRequest::kUpload:
      FUZZ_CHECK(same(
          request, sdo_decode_request(sdo_upload_request(kNode, request.index, request.subindex))));
      break;
    case SdoRequest::kDownload: {
      FUZZ_CHECK(request.size >= 1 && request.size <= 4 && frame.length >= 4 + request.size);
      CanFrame again =
          sdo_download_request(kNode, request.index, request.subindex, request.data, request.size);
      FUZZ_CHECK(same(request, sdo_decode_request(again)));
      break;
    }
    case SdoRequest::kAbort:
      FUZZ_CHECK(frame.length >= 8 && request.abort_code == le32(frame.data + 4, 4));
      break;
    case SdoRequest::kInvalid:
      break;
  }
  return request;
}

// The frame as a request to a node with the dual-motor entries: its answer
// must be what the client's decoder takes for a reply to that request.
void check_server(const CanFrame& frame, const SdoRequest& request) {
  SimNode node(kNode);
  node.add_dual_motor_entries();
  std::optional<std::uint32_t> before = node.value(request.index, request.subindex);
  std::optional<CanFrame> answer = node.on_frame(frame);
  if (request.kind == SdoRequest::kAbort) {
    FUZZ_CHECK(!answer);
    return;
  }
  FUZZ_CHECK(answer && answer->cob_id == kSdoReplyBase + kNode && answer->length == 8);
  if (request.kind == SdoRequest::kInvalid) {
    SdoReply reply = sdo_decode_reply(*answer, true, request.index, request.subindex);
    FUZZ_CHECK(reply.kind == SdoReply::kAbort && reply.abort_code == kAbortUnknownCommand);
    return;
  }
  bool upload = request.kind == SdoRequest::kUpload;
  SdoReply reply = sdo_decode_reply(*answer, upload, request.index, request.subindex);
  std::optional<std::uint32_t> after = node.value(request.index, request.subindex);
  switch (reply.kind) {
    case SdoReply::kUploadData:
      FUZZ_CHECK(before && after == before && le32(reply.data, reply.size) == *before);
      break;
    case SdoReply::kDownloadDone:
      FUZZ_CHECK(after && *after == le32(request.data, request.size));
      break;
    case SdoReply::kAbort:
      FUZZ_CHECK(reply.abort_code != 0 && after == before);
      break;
    case SdoReply::kProtocolError:
      FUZZ_CHECK(!"the server's answer does not fit the request");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::uint8_t in[13] = {};
  std::memcpy(in, data, size < sizeof in ? size : sizeof in);
  bool upload = in[0] & 1;
  CanFrame frame;
  frame.cob_id = kSdoReplyBase + kNode;
  frame.length = in[1];
  std::memcpy(frame.data, in + 5, 8);
  auto index = static_cast<std::uint16_t>(in[2] | in[3] << 8);

  check_reply(frame, upload, index, in[4]);
  frame.cob_id = kSdoRequestBase + kNode;
  check_server(frame, check_request(frame));
  return 0;
}
