#include "can/can_dmd.h"

#include <cstring>

#include "can/can_sdo.h"
#include "errors/errors.h"
#include "log/log.h"

namespace {

constexpr std::int32_t kDmdError = ERR_CAN_SDO_DMD_ERROR;
// Family transfers signal bus activity.
constexpr int kActivity = 1;

bool over_can(const CanInstrument& instrument) {
  return instrument.interface_kind == InstrumentInterface::kCan;
}

// Transfers of one object of 1, 2 or 4 bytes, little-endian on the bus.
std::int32_t read_u8(std::uint8_t node, std::uint16_t index, std::uint8_t sub, std::uint8_t* value,
                     const char* caller) {
  if (!value) return ERR_INVALID_PARAM;
  std::uint8_t byte = 0;
  std::int32_t err = can_sdo_read2(node, index, sub, &byte, 1, kActivity, kDmdError, caller);
  if (err == ERR_NONE) *value = byte;
  return err;
}

std::int32_t write_u8(std::uint8_t node, std::uint16_t index, std::uint8_t sub, std::uint8_t value,
                      const char* caller) {
  return can_sdo_write2(node, index, sub, &value, 1, kActivity, kDmdError, caller);
}

std::int32_t read_u16(std::uint8_t node, std::uint16_t index, std::uint8_t sub,
                      std::uint16_t* value, const char* caller) {
  if (!value) return ERR_INVALID_PARAM;
  std::uint8_t bytes[2] = {};
  std::int32_t err = can_sdo_read2(node, index, sub, bytes, 2, kActivity, kDmdError, caller);
  if (err == ERR_NONE) *value = static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
  return err;
}

std::int32_t write_u16(std::uint8_t node, std::uint16_t index, std::uint8_t sub,
                       std::uint16_t value, const char* caller) {
  std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value & 0xFF),
                           static_cast<std::uint8_t>(value >> 8)};
  return can_sdo_write2(node, index, sub, bytes, 2, kActivity, kDmdError, caller);
}

std::int32_t write_u32(std::uint8_t node, std::uint16_t index, std::uint8_t sub,
                       std::uint32_t value, const char* caller) {
  std::uint8_t bytes[4];
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
  return can_sdo_write2(node, index, sub, bytes, 4, kActivity, kDmdError, caller);
}

}  // namespace

std::int32_t can_read_dmd_motor1_control(const CanInstrument& instrument, std::uint8_t node,
                                         std::uint8_t* control) {
  if (!over_can(instrument)) return ERR_INVALID_PARAM;
  return read_u8(node, 0x2000, 0, control, __func__);
}

std::int32_t can_write_dmd_motor1_control(const CanInstrument& instrument, std::uint8_t node,
                                          std::uint8_t control) {
  if (!over_can(instrument)) return ERR_INVALID_PARAM;
  return write_u8(node, 0x2000, 0, control, __func__);
}

std::int32_t can_write_dmd_motor1_mode(const CanInstrument& instrument, std::uint8_t node,
                                       int mode) {
  if (!over_can(instrument)) return ERR_INVALID_PARAM;
  if (mode < 0 || mode > 4) {
    u_log("%s: invalid mode=%d\n", __func__, mode);
    return ERR_INVALID_PARAM;
  }
  return write_u8(node, 0x2002, 0, static_cast<std::uint8_t>(mode), __func__);
}

std::int32_t can_write_dmd_motor1_targetVel(const CanInstrument& instrument, std::uint8_t node,
                                            float velocity) {
  if (!over_can(instrument)) return ERR_INVALID_PARAM;
  // Written so that a value that is not a number fails the test as well.
  if (!(velocity >= 10.0f && velocity <= 10000.0f)) return ERR_INVALID_PARAM;
  std::uint32_t bits = 0;
  static_assert(sizeof bits == sizeof velocity);
  std::memcpy(&bits, &velocity, sizeof bits);
  return write_u32(node, 0x2004, 0, bits, __func__);
}

std::int32_t can_write_dmd_motor2_control(const CanInstrument& instrument, std::uint8_t node,
                                          std::uint8_t control) {
  if (!over_can(instrument)) return ERR_INVALID_PARAM;
  return write_u8(node, 0x2020, 0, control, __func__);
}

std::int32_t can_read_dmd_motor2_status(const CanInstrument& instrument, std::uint8_t node,
                                        std::uint8_t* status) {
  if (!over_can(instrument)) return ERR_INVALID_PARAM;
  return read_u8(node, 0x2021, 0, status, __func__);
}

std::int32_t can_read_dmd_motor2_llcLevel(const CanInstrument& instrument, std::uint8_t node,
                                          std::uint16_t* level, bool invert) {
  if (!over_can(instrument)) return ERR_INVALID_PARAM;
  std::uint16_t raw = 0;
  std::int32_t err = read_u16(node, 0x2028, 0, level ? &raw : nullptr, __func__);
  if (err == ERR_NONE) *level = invert ? static_cast<std::uint16_t>(~raw) : raw;
  return err;
}

std::int32_t can_write_dmd_motor2_llcLevel(const CanInstrument& instrument, std::uint8_t node,
                                           std::uint16_t level, bool invert) {
  if (!over_can(instrument)) return ERR_INVALID_PARAM;
  std::uint16_t raw = invert ? static_cast<std::uint16_t>(~level) : level;
  return write_u16(node, 0x2028, 0, raw, __func__);
}

std::int32_t can_write_dmd_motor2_current(const CanInstrument& instrument, std::uint8_t node,
                                          std::uint16_t current) {
  if (!over_can(instrument)) return ERR_INVALID_PARAM;
  std::uint16_t maximum = 0;
  std::int32_t err = read_u16(node, 0x2036, 0, &maximum, __func__);
  if (err != ERR_NONE) return err;
  if (current > maximum) {
    u_log("%s: current=%u above maximum=%u\n", __func__, static_cast<unsigned>(current),
          static_cast<unsigned>(maximum));
    return ERR_INVALID_PARAM;
  }
  return write_u16(node, 0x2034, 0, current, __func__);
}

std::int32_t can_read_dmd_motor2_maxCurrent(const CanInstrument& instrument, std::uint8_t node,
                                            std::uint16_t* current) {
  if (!over_can(instrument)) return ERR_INVALID_PARAM;
  return read_u16(node, 0x2036, 0, current, __func__);
}

std::int32_t can_read_dmd_motor2_position(const CanInstrument& instrument, std::uint8_t node,
                                          std::uint8_t* position) {
  if (!over_can(instrument)) return ERR_INVALID_PARAM;
  return read_u8(node, 0x2047, 0, position, __func__);
}

std::int32_t can_read_dmd_keypress_mode(const CanInstrument& instrument, std::uint8_t node,
                                        std::uint8_t* mode) {
  if (!over_can(instrument)) return ERR_INVALID_PARAM;
  return read_u8(node, 0x2044, 8, mode, __func__);
}

std::int32_t can_write_dmd_keypress_mode(const CanInstrument& instrument, std::uint8_t node,
                                         std::uint8_t mode) {
  if (!over_can(instrument)) return ERR_INVALID_PARAM;
  return write_u8(node, 0x2044, 8, mode, __func__);
}

// --- Node operations --------------------------------------------------------

namespace {

struct NodeGate {
  std::uint8_t id;
  std::uint8_t CanInstrument::*available;
  const char* label;       // how the "not available" message names the node
  std::int32_t sdo_error;  // the node's own SDO error
};

constexpr NodeGate k_rs_gate{CAN_NODE_ID_DD_RS, &CanInstrument::dd_rs_available,
                             "Ring-of-Fire and Diffuser Disk", ERR_CAN_SDO_ROF_ERROR};
constexpr NodeGate k_ndw_gate{CAN_NODE_ID_FOCUS_NDW, &CanInstrument::focus_ndw_available,
                              "Focus and ND Wheel", ERR_CAN_SDO_NDW_ERROR};
constexpr NodeGate k_aux_gate{CAN_NODE_ID_AUX_MOTOR, &CanInstrument::aux_motor_available,
                              "Auxiliary Motor", ERR_CAN_SDO_AUX_MOTOR_ERROR};

template <class Family>
std::int32_t gated(const CanInstrument& instrument, const NodeGate& gate, const char* op,
                   Family&& family) {
  if (instrument.*gate.available != 1) {
    u_log("%s: CAN %s node is not available\n", op, gate.label);
    return ERR_CAN_NODE_NOT_AVAIL;
  }
  std::int32_t err = family(gate.id);
  return err == kDmdError ? gate.sdo_error : err;
}

}  // namespace

#define CAN_DMD_DEFINE(rw, node, suffix, family, params, args)                                   \
  std::int32_t can_##rw##node##_##suffix(const CanInstrument& instrument,                        \
                                         CAN_DMD_UNPAREN params) {                               \
    return gated(instrument, k_##node##_gate, __func__,                                          \
                 [&](std::uint8_t id) { return family(instrument, id, CAN_DMD_UNPAREN args); }); \
  }

CAN_DMD_NODE_OPERATIONS(CAN_DMD_DEFINE, rs)
CAN_DMD_NODE_OPERATIONS(CAN_DMD_DEFINE, ndw)
CAN_DMD_NODE_OPERATIONS(CAN_DMD_DEFINE, aux)
