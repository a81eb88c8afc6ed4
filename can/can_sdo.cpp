#include "can/can_sdo.h"

#include "can/can_access.h"
#include "can/can_time.h"
#include "errors/errors.h"
#include "log/log.h"
#include "platform/byte_order.h"

namespace {

// The library's own argument rules, checked here as well so that no backend
// ever sees such a request; a refused request then goes on as the library's
// CAN_ERR would.
bool valid_request(std::uint8_t node, const void* buffer, std::uint32_t size) {
  return node >= 1 && node <= 127 && buffer && (size == 1 || size == 2 || size == 4);
}

// Steps shared by the read and the write once the library call returned.
std::int32_t finish_transfer(const char* op, std::int32_t status, const CanSdoResult& result,
                             int activity, std::int32_t sdo_error, const char* caller) {
  if (activity == 1) {
    if (CanEvent* event = can_activity_event()) event->set();
  }
  if (status != CAN_OK) {
    std::int32_t err = can_status_to_error(status);
    u_log("%s called by %s: err=%s\n", op, caller, error_name(err));
    return err;
  }
  if (result.outcome == kSdoConfirmed) return ERR_NONE;
  // A node that does not confirm is a failure even if the caller passed 0.
  std::int32_t err = sdo_error != ERR_NONE ? sdo_error : ERR_CAN_ERROR;
  // %lX takes an unsigned long; the code is 32 bits wide on every platform.
  u_log("%s called by %s: err=%s, result=%d, abortcode=%8.8lX\n", op, caller, error_name(err),
        static_cast<int>(result.outcome), static_cast<unsigned long>(result.abort_code));
  return err;
}

}  // namespace

std::int32_t can_sdo_read2(std::uint8_t node, std::uint16_t index, std::uint8_t subindex,
                           void* buffer, std::uint32_t size, int activity, std::int32_t sdo_error,
                           const char* caller) {
  CanSdoResult result;
  std::int32_t status = valid_request(node, buffer, size)
                            ? CAN_SDORead(node, index, subindex, buffer, size, &result)
                            : CAN_ERR;
  return finish_transfer(__func__, status, result, activity, sdo_error, caller);
}

std::int32_t can_sdo_write2(std::uint8_t node, std::uint16_t index, std::uint8_t subindex,
                            const void* buffer, std::uint32_t size, int activity,
                            std::int32_t sdo_error, const char* caller) {
  CanSdoResult result;
  std::int32_t status = valid_request(node, buffer, size)
                            ? CAN_SDOWrite(node, index, subindex, buffer, size, &result)
                            : CAN_ERR;
  return finish_transfer(__func__, status, result, activity, sdo_error, caller);
}

bool find_node(std::uint8_t node, const char* name) {
  std::uint32_t found = 0;
  std::int32_t status = CAN_FindNode(node, &found);
  if (status != CAN_OK) {
    u_log("%s: Error finding node %s: CAN_FindNode canErr = %d\n", __func__, name,
          static_cast<int>(status));
    return false;
  }
  if (found != kCanNodeFound) {
    u_log("%s: Error finding node %s: CAN_FindNode status = %d\n", __func__, name,
          static_cast<int>(found));
    return false;
  }
  return true;
}

bool wait_for_node_operational(std::uint8_t node, const char* name) {
  std::uint8_t state = CAN_STATE_UNKNOWN;
  for (int poll = 0; poll < kNodeStatePolls; ++poll) {
    std::int32_t status = CAN_GetNodeState(node, &state);
    if (status != CAN_OK) {
      u_log("%s: Error waiting for node %s operational: CAN_GetNodeState canErr = %d\n", __func__,
            name, static_cast<int>(status));
      return false;
    }
    if (state == CAN_STATE_OPERATIONAL) return true;
    can_clock().sleep_ms(kNodeStatePauseMs);
    can_run_idle_hook();
  }
  u_log("%s: Timeout waiting for node %s operational: CAN_GetNodeState status = %d\n", __func__,
        name, static_cast<int>(state));
  return false;
}

bool get_operational_node(const CanInstrument& instrument, std::uint8_t node, const char* name,
                          std::uint32_t* product_id) {
  // Over another interface the bus is not there: fail before touching it.
  if (instrument.interface_kind != InstrumentInterface::kCan) {
    u_log("%s: Error getting node %s product ID: %s\n", __func__, name,
          error_name(ERR_WRONG_INSTR_BOARD));
    return false;
  }
  if (!find_node(node, name)) return false;
  if (!wait_for_node_operational(node, name)) return false;
  std::uint32_t id = 0;
  std::int32_t err = can_read_productID(instrument, node, &id);
  if (err != ERR_NONE) {
    u_log("%s: Error getting node %s product ID: %s\n", __func__, name, error_name(err));
    return false;
  }
  if (product_id) *product_id = id;
  return true;
}

std::int32_t can_read_productID(const CanInstrument& instrument, std::uint8_t node,
                                std::uint32_t* product_id) {
  if (instrument.interface_kind != InstrumentInterface::kCan) return ERR_WRONG_INSTR_BOARD;
  if (!product_id) return ERR_INVALID_PARAM;
  std::uint8_t bytes[4] = {};
  std::int32_t err = can_sdo_read2(node, 0x1018, 2, bytes, 4, 0, ERR_CAN_ERROR, __func__);
  if (err != ERR_NONE) return err;
  *product_id = load_le32(bytes);
  return ERR_NONE;
}

std::int32_t can_read_version(const CanInstrument& instrument, std::uint8_t node,
                              std::uint16_t* major, std::uint16_t* minor) {
  if (instrument.interface_kind != InstrumentInterface::kCan) return ERR_WRONG_INSTR_BOARD;
  if (!major || !minor) return ERR_INVALID_PARAM;
  std::uint8_t bytes[4] = {};
  std::int32_t err = can_sdo_read2(node, 0x1018, 3, bytes, 4, 0, ERR_CAN_ERROR, __func__);
  if (err != ERR_NONE) return err;
  *minor = load_le16(bytes);
  *major = load_le16(bytes + 2);
  return ERR_NONE;
}
