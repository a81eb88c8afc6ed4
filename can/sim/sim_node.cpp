#include "can/sim/sim_node.h"

#include <algorithm>

#include "can/can_dmd.h"
#include "platform/byte_order.h"

namespace {

std::uint32_t size_mask(std::uint8_t size) {
  return size >= 4 ? 0xFFFFFFFFu : (1u << (8 * size)) - 1;
}

constexpr std::uint32_t kSimVendor = 0x000005A1;

}  // namespace

SimNode::SimNode(std::uint8_t id) : id_(id) {
  add_entry(0x1000, 0, SimAccess::kReadOnly, 4, 0x00000191);
  set_identity(kSimVendor, 0x00010000u | id, 0x00010000, 1000u + id);
}

void SimNode::add_entry(std::uint16_t index, std::uint8_t subindex, SimAccess access,
                        std::uint8_t size, std::uint32_t value) {
  size = std::clamp<std::uint8_t>(size, 1, 4);
  entries_[key(index, subindex)] = Entry{access, size, value & size_mask(size)};
}

std::optional<std::uint32_t> SimNode::value(std::uint16_t index, std::uint8_t subindex) const {
  auto it = entries_.find(key(index, subindex));
  if (it == entries_.end()) return std::nullopt;
  return it->second.value;
}

void SimNode::set_value(std::uint16_t index, std::uint8_t subindex, std::uint32_t value) {
  auto it = entries_.find(key(index, subindex));
  if (it != entries_.end()) it->second.value = value & size_mask(it->second.size);
}

void SimNode::set_identity(std::uint32_t vendor, std::uint32_t product, std::uint32_t version,
                           std::uint32_t serial) {
  add_entry(0x1018, 0, SimAccess::kReadOnly, 1, 4);
  add_entry(0x1018, 1, SimAccess::kReadOnly, 4, vendor);
  add_entry(0x1018, 2, SimAccess::kReadOnly, 4, product);
  add_entry(0x1018, 3, SimAccess::kReadOnly, 4, version);
  add_entry(0x1018, 4, SimAccess::kReadOnly, 4, serial);
}

void SimNode::add_dual_motor_entries() {
  for (const CanDmdObject& object : kDmdObjects)
    add_entry(object.index, object.subindex, object.access, object.size, object.initial);
}

void SimNode::set_operational_after(std::int64_t delay_ms, std::uint64_t since_ms) {
  fixed_state_.reset();
  operational_delay_ms_ = delay_ms;
  since_ms_ = since_ms;
}

void SimNode::set_state(CanNodeState state) { fixed_state_ = state; }

CanNodeState SimNode::state(std::uint64_t now_ms) const {
  if (silent_) return CAN_STATE_UNKNOWN;
  if (fixed_state_) return *fixed_state_;
  if (operational_delay_ms_ < 0) return CAN_STATE_PREOPERATIONAL;
  if (now_ms >= since_ms_ + static_cast<std::uint64_t>(operational_delay_ms_))
    return CAN_STATE_OPERATIONAL;
  return CAN_STATE_PREOPERATIONAL;
}

void SimNode::abort_on(std::uint16_t index, std::uint8_t subindex, std::uint32_t code) {
  aborts_[key(index, subindex)] = code;
}

CanFrame SimNode::styled(CanFrame reply, bool upload) const {
  switch (style_) {
    case SimReplyStyle::kNormal:
      break;
    case SimReplyStyle::kNoSize:
      if (upload && (reply.data[0] & 0xE0) == 0x40) reply.data[0] = 0x42;
      break;
    case SimReplyStyle::kShortFrame:
      if (upload && (reply.data[0] & 0xE0) == 0x40)
        reply.length = static_cast<std::uint8_t>(4 + 4 - ((reply.data[0] >> 2) & 3));
      else if ((reply.data[0] & 0xE0) != 0x80)
        reply.length = 4;
      break;
    case SimReplyStyle::kSegmented:
      if (upload && (reply.data[0] & 0xE0) == 0x40) {
        reply.data[0] = 0x41;  // segmented, size in bytes 4-7
        store_le32(reply.data + 4, 4);
      }
      break;
    case SimReplyStyle::kWrongObject:
      reply.data[3] = static_cast<std::uint8_t>(reply.data[3] + 1);
      break;
    case SimReplyStyle::kUnknownCommand:
      reply.data[0] = 0xE0;
      break;
  }
  return reply;
}

std::optional<CanFrame> SimNode::on_frame(const CanFrame& request) {
  received_.push_back(request);
  if (silent_) return std::nullopt;
  SdoRequest req = sdo_decode_request(request);
  std::uint32_t reply_id = kSdoReplyBase + id_;
  if (req.kind == SdoRequest::kAbort) return std::nullopt;  // a client abort gets no answer
  if (req.kind == SdoRequest::kInvalid)
    return sdo_abort_frame(reply_id, req.index, req.subindex, kAbortUnknownCommand);
  bool upload = req.kind == SdoRequest::kUpload;

  // Server checks in the usual order: injected fault, object, subindex,
  // access, length.
  std::uint32_t code = 0;
  auto abort_it = aborts_.find(key(req.index, req.subindex));
  auto it = entries_.find(key(req.index, req.subindex));
  if (abort_it != aborts_.end()) {
    code = abort_it->second;
  } else if (it == entries_.end()) {
    bool index_known = false;
    for (const auto& [k, entry] : entries_) {
      (void)entry;
      if ((k >> 8) == req.index) index_known = true;
    }
    code = index_known ? kAbortNoSubindex : kAbortNoObject;
  } else if (upload && it->second.access == SimAccess::kWriteOnly) {
    code = kAbortReadWriteOnly;
  } else if (!upload && it->second.access == SimAccess::kReadOnly) {
    code = kAbortWriteReadOnly;
  } else if (!upload && req.size != it->second.size) {
    code = kAbortLengthMismatch;
  }
  if (code != 0) return styled(sdo_abort_frame(reply_id, req.index, req.subindex, code), upload);

  Entry& entry = it->second;
  if (upload) {
    std::uint8_t bytes[4];
    store_le32(bytes, entry.value);
    return styled(sdo_upload_reply(id_, req.index, req.subindex, bytes, entry.size), true);
  }
  // The request's data bytes past its size are 0.
  entry.value = load_le32(req.data) & size_mask(entry.size);
  return styled(sdo_download_reply(id_, req.index, req.subindex), false);
}
