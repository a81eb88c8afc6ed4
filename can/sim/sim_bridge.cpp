#include "can/sim/sim_bridge.h"

#include <algorithm>
#include <cstring>

#include "can/can_nodes.h"
#include "can/can_time.h"

namespace {

bool valid_node(std::uint32_t node) { return node >= 1 && node <= 127; }
bool valid_size(std::uint32_t size) { return size == 1 || size == 2 || size == 4; }

}  // namespace

SimBridge::SimBridge() {
  const std::uint8_t mac[6] = {0x02, 0x00, 0x5E, 0x10, 0x20, 0x30};
  std::memcpy(info_.mac, mac, sizeof mac);
  const std::uint8_t ip[4] = {192, 168, 100, 20};
  std::memcpy(info_.ipv4, ip, sizeof ip);
  std::memcpy(config_.ipv4, ip, sizeof ip);
  const std::uint8_t mask[4] = {255, 255, 255, 0};
  std::memcpy(config_.netmask, mask, sizeof mask);
}

SimNode& SimBridge::add_node(std::uint8_t id) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  auto node = std::make_unique<SimNode>(id);
  node->set_operational_after(0, can_clock().now_ms());
  SimNode& ref = *node;
  nodes_[id] = std::move(node);
  return ref;
}

SimNode* SimBridge::node(std::uint8_t id) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  auto it = nodes_.find(id);
  return it == nodes_.end() ? nullptr : it->second.get();
}

void SimBridge::remove_node(std::uint8_t id) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  nodes_.erase(id);
}

void SimBridge::fail_next(std::int32_t status, std::uint32_t count) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  for (std::uint32_t i = 0; i < count; ++i) pending_failures_.push_back(status);
}

void SimBridge::lose_connection() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  losing_connection_ = true;
}

void SimBridge::set_firmware_version(std::uint16_t major, std::uint16_t minor) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  firmware_major_ = major;
  firmware_minor_ = minor;
}

void SimBridge::inject_pdo(const CanPdo& pdo) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (std::find(pdo_ids_.begin(), pdo_ids_.end(), pdo.cob_id) != pdo_ids_.end())
    pdo_queue_.push_back(pdo);
}

std::int32_t SimBridge::begin_call(bool needs_connection) {
  ++counters_.calls;
  if (!pending_failures_.empty()) {
    std::int32_t status = pending_failures_.front();
    pending_failures_.pop_front();
    if (status != CAN_OK) {
      last_bridge_error_ = status;
      return status;
    }
  }
  if (losing_connection_) {
    losing_connection_ = false;
    connected_ = false;
    last_bridge_error_ = CAN_TCP_ERR;
    if (event_callback_) event_callback_(CAN_EVENT_CONNECTION_LOST, 0, 0, event_context_);
    return CAN_TCP_ERR;
  }
  if (needs_connection && !connected_) return CAN_NOT_CONNECTED;
  return CAN_OK;
}

void SimBridge::send(const CanFrame& frame) {
  ++counters_.frames_sent;
  sent_.push_back(frame);
}

std::int32_t SimBridge::transfer(std::uint32_t node_id, std::uint32_t index, std::uint32_t subindex,
                                 bool upload, std::uint8_t* bytes, std::uint32_t size,
                                 CanSdoResult* result) {
  return locked_call(true, [&]() -> std::int32_t {
    if (!valid_node(node_id) || index > 0xFFFF || subindex > 0xFF || !valid_size(size) || !bytes ||
        !result)
      return CAN_ERR;

    *result = CanSdoResult{};
    auto id = static_cast<std::uint8_t>(node_id);
    auto idx = static_cast<std::uint16_t>(index);
    auto sub = static_cast<std::uint8_t>(subindex);
    CanFrame request =
        upload ? sdo_upload_request(id, idx, sub) : sdo_download_request(id, idx, sub, bytes, size);
    ++counters_.sdo_transfers;
    send(request);

    SimNode* target = node(id);
    std::optional<CanFrame> reply = target ? target->on_frame(request) : std::nullopt;
    if (!reply) {
      // Nobody answered: wait out the timeout, then abort the transfer.
      can_clock().sleep_ms(sdo_timeout_ms_);
      send(sdo_abort_frame(kSdoRequestBase + id, idx, sub, kAbortTimeout));
      result->outcome = kSdoNoAnswer;
      result->abort_code = kAbortTimeout;
      return CAN_TIMEOUT;
    }

    SdoReply decoded = sdo_decode_reply(*reply, upload, idx, sub);
    switch (decoded.kind) {
      case SdoReply::kAbort:
        result->outcome = kSdoAborted;
        result->abort_code = decoded.abort_code;
        return CAN_OK;
      case SdoReply::kProtocolError: {
        // Release the server and report the transfer as aborted by us.
        CanFrame abort = sdo_abort_frame(kSdoRequestBase + id, idx, sub, decoded.abort_code);
        send(abort);
        target->on_frame(abort);
        result->outcome = kSdoAborted;
        result->abort_code = decoded.abort_code;
        return CAN_OK;
      }
      case SdoReply::kDownloadDone:
        result->outcome = kSdoConfirmed;
        return CAN_OK;
      case SdoReply::kUploadData:
        break;
    }
    if (decoded.size > size) {
      CanFrame abort = sdo_abort_frame(kSdoRequestBase + id, idx, sub, kAbortLengthTooHigh);
      send(abort);
      target->on_frame(abort);
      result->outcome = kSdoAborted;
      result->abort_code = kAbortLengthTooHigh;
      return CAN_BUF_TOO_SMALL;
    }
    std::memset(bytes, 0, size);
    std::memcpy(bytes, decoded.data, decoded.size);
    result->outcome = kSdoConfirmed;
    return CAN_OK;
  });
}

std::int32_t SimBridge::sdo_read(std::uint32_t node, std::uint32_t index, std::uint32_t subindex,
                                 void* buffer, std::uint32_t size, CanSdoResult* result) {
  std::uint8_t bytes[4] = {};
  std::int32_t status =
      transfer(node, index, subindex, true, buffer ? bytes : nullptr, size, result);
  // The caller's buffer only receives a value that arrived whole.
  if (status == CAN_OK && result->outcome == kSdoConfirmed) std::memcpy(buffer, bytes, size);
  return status;
}

std::int32_t SimBridge::sdo_write(std::uint32_t node, std::uint32_t index, std::uint32_t subindex,
                                  const void* buffer, std::uint32_t size, CanSdoResult* result) {
  std::uint8_t bytes[4] = {};
  if (buffer && valid_size(size)) std::memcpy(bytes, buffer, size);
  return transfer(node, index, subindex, false, buffer ? bytes : nullptr, size, result);
}

std::int32_t SimBridge::find_node(std::uint32_t node_id, std::uint32_t* status) {
  return locked_call(true, [&]() -> std::int32_t {
    if (!valid_node(node_id) || !status) return CAN_ERR;
    ++counters_.find_calls;
    // The bridge asks for the node's device type and waits for any answer.
    auto id = static_cast<std::uint8_t>(node_id);
    CanFrame request = sdo_upload_request(id, 0x1000, 0);
    send(request);
    SimNode* target = node(id);
    if (target && target->on_frame(request)) {
      *status = kCanNodeFound;
    } else {
      can_clock().sleep_ms(sdo_timeout_ms_);
      *status = 0;
    }
    return CAN_OK;
  });
}

std::int32_t SimBridge::get_node_state(std::uint32_t node_id, std::uint8_t* state) {
  return locked_call(true, [&]() -> std::int32_t {
    if (!valid_node(node_id) || !state) return CAN_ERR;
    ++counters_.state_polls;
    // Read from the last heartbeat the bridge saw: no bus traffic.
    SimNode* target = node(static_cast<std::uint8_t>(node_id));
    *state = target ? target->state(can_clock().now_ms()) : CAN_STATE_UNKNOWN;
    return CAN_OK;
  });
}

std::int32_t SimBridge::enumerate_nodes(std::uint8_t* list, std::uint32_t capacity,
                                        std::uint32_t* count) {
  return locked_call(true, [&]() -> std::int32_t {
    if (!count || (capacity > 0 && !list)) return CAN_ERR;
    std::uint32_t n = 0;
    for (const auto& [id, node] : nodes_) {
      if (node->silent()) continue;
      if (n < capacity) list[n] = id;
      ++n;
    }
    *count = n;
    return n > capacity ? CAN_BUF_TOO_SMALL : CAN_OK;
  });
}

std::int32_t SimBridge::enumerate_bridges(CanBridgeInfo* bridges, std::uint32_t capacity,
                                          std::uint32_t* count) {
  return locked_call(false, [&]() -> std::int32_t {
    if (!count || (capacity > 0 && !bridges)) return CAN_ERR;
    *count = 1;
    if (capacity < 1) return CAN_BUF_TOO_SMALL;
    bridges[0] = info_;
    return CAN_OK;
  });
}

std::int32_t SimBridge::connect(const CanBridgeInfo* bridge) {
  return locked_call(false, [&]() -> std::int32_t {
    if (bridge && std::memcmp(bridge->mac, info_.mac, sizeof info_.mac) != 0) return CAN_TIMEOUT;
    connected_ = true;
    return CAN_OK;
  });
}

std::int32_t SimBridge::disconnect() {
  return locked_call(false, [&]() -> std::int32_t {
    connected_ = false;
    return CAN_OK;
  });
}

std::int32_t SimBridge::get_firmware_version(std::uint16_t* major, std::uint16_t* minor) {
  return locked_call(true, [&]() -> std::int32_t {
    if (!major || !minor) return CAN_ERR;
    *major = firmware_major_;
    *minor = firmware_minor_;
    return CAN_OK;
  });
}

std::int32_t SimBridge::get_bridge_configuration(CanBridgeConfig* config) {
  return locked_call(true, [&]() -> std::int32_t {
    if (!config) return CAN_ERR;
    *config = config_;
    return CAN_OK;
  });
}

std::int32_t SimBridge::set_bridge_configuration(const CanBridgeConfig* config) {
  return locked_call(true, [&]() -> std::int32_t {
    if (!config) return CAN_ERR;
    switch (config->bitrate_kbit) {
      case 125:
      case 250:
      case 500:
      case 1000:
        break;
      default:
        return CAN_ERR;
    }
    config_ = *config;
    return CAN_OK;
  });
}

std::int32_t SimBridge::get_last_bridge_error(std::int32_t* error) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  // Answered from the library's own record, so it works without a connection.
  ++counters_.calls;
  if (!error) return CAN_ERR;
  *error = last_bridge_error_;
  return CAN_OK;
}

std::int32_t SimBridge::reset_bridge() {
  return locked_call(true, [&]() -> std::int32_t {
    last_bridge_error_ = 0;
    pdo_queue_.clear();
    return CAN_OK;
  });
}

std::int32_t SimBridge::register_events(CanEventCallback callback, void* context) {
  return locked_call(false, [&]() -> std::int32_t {
    event_callback_ = callback;
    event_context_ = context;
    return CAN_OK;
  });
}

std::int32_t SimBridge::register_pdo(std::uint32_t cob_id) {
  return locked_call(true, [&]() -> std::int32_t {
    if (cob_id == 0 || cob_id > 0x7FF) return CAN_ERR;
    if (std::find(pdo_ids_.begin(), pdo_ids_.end(), cob_id) == pdo_ids_.end())
      pdo_ids_.push_back(cob_id);
    return CAN_OK;
  });
}

std::int32_t SimBridge::get_pdo(CanPdo* pdo) {
  return locked_call(true, [&]() -> std::int32_t {
    if (!pdo) return CAN_ERR;
    if (pdo_queue_.empty()) return CAN_NO_PDO;
    *pdo = pdo_queue_.front();
    pdo_queue_.pop_front();
    return CAN_OK;
  });
}

std::int32_t SimBridge::unregister_pdos() {
  return locked_call(true, [&]() -> std::int32_t {
    pdo_ids_.clear();
    pdo_queue_.clear();
    return CAN_OK;
  });
}

std::unique_ptr<SimBridge> make_default_sim_bridge() {
  auto bridge = std::make_unique<SimBridge>();
  for (const CanNodeInfo& info : kCanNodes) {
    SimNode& node = bridge->add_node(info.id);
    if (info.id == CAN_NODE_ID_FOCUS_NDW || info.id == CAN_NODE_ID_AUX_MOTOR ||
        info.id == CAN_NODE_ID_DD_RS)
      node.add_dual_motor_entries();
  }
  return bridge;
}
