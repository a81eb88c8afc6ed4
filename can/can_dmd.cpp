#include "can/can_dmd.h"

#include <cstring>
#include <type_traits>

#include "can/can_sdo.h"
#include "errors/errors.h"
#include "log/log.h"
#include "platform/byte_order.h"

namespace {

constexpr std::int32_t kDmdError = ERR_CAN_SDO_DMD_ERROR;
// Family transfers signal bus activity.
constexpr int kActivity = 1;

bool over_can(const CanInstrument& instrument) {
  return instrument.interface_kind == InstrumentInterface::kCan;
}

// One transfer of a family object: object.size bytes, little-endian on the
// bus, held in the low bytes of `value`.
std::int32_t read_object(std::uint8_t node, const CanDmdObject& object, std::uint32_t* value,
                         const char* caller) {
  std::uint8_t bytes[4] = {};
  std::int32_t err = can_sdo_read2(node, object.index, object.subindex, bytes, object.size,
                                   kActivity, kDmdError, caller);
  if (err == ERR_NONE) *value = load_le32(bytes);
  return err;
}

std::int32_t write_object(std::uint8_t node, const CanDmdObject& object, std::uint32_t value,
                          const char* caller) {
  std::uint8_t bytes[4];
  store_le32(bytes, value);
  return can_sdo_write2(node, object.index, object.subindex, bytes, object.size, kActivity,
                        kDmdError, caller);
}

// A read into an out-value of the object's width (a null one is refused
// before the bus).
template <class Value>
std::int32_t read_into(std::uint8_t node, const CanDmdObject& object, Value* value,
                       const char* caller) {
  if (!value) return ERR_INVALID_PARAM;
  std::uint32_t raw = 0;
  std::int32_t err = read_object(node, object, &raw, caller);
  if (err == ERR_NONE) *value = static_cast<Value>(raw);
  return err;
}

}  // namespace

std::int32_t can_read_dmd_motor1_control(const CanInstrument& instrument, std::uint8_t node,
                                         std::uint8_t* control) {
  if (!over_can(instrument)) return ERR_INVALID_PARAM;
  return read_into(node, kDmdMotor1Control, control, __func__);
}

std::int32_t can_write_dmd_motor1_control(const CanInstrument& instrument, std::uint8_t node,
                                          std::uint8_t control) {
  if (!over_can(instrument)) return ERR_INVALID_PARAM;
  return write_object(node, kDmdMotor1Control, control, __func__);
}

std::int32_t can_write_dmd_motor1_mode(const CanInstrument& instrument, std::uint8_t node,
                                       int mode) {
  if (!over_can(instrument)) return ERR_INVALID_PARAM;
  if (mode < 0 || mode > 4) {
    u_log("%s: invalid mode=%d\n", __func__, mode);
    return ERR_INVALID_PARAM;
  }
  return write_object(node, kDmdMotor1Mode, static_cast<std::uint32_t>(mode), __func__);
}

std::int32_t can_write_dmd_motor1_targetVel(const CanInstrument& instrument, std::uint8_t node,
                                            float velocity) {
  if (!over_can(instrument)) return ERR_INVALID_PARAM;
  // Written so that a value that is not a number fails the test as well.
  if (!(velocity >= 10.0f && velocity <= 10000.0f)) return ERR_INVALID_PARAM;
  std::uint32_t bits = 0;
  static_assert(sizeof bits == sizeof velocity);
  std::memcpy(&bits, &velocity, sizeof bits);
  return write_object(node, kDmdMotor1TargetVel, bits, __func__);
}

std::int32_t can_write_dmd_motor2_control(const CanInstrument& instrument, std::uint8_t node,
                                          std::uint8_t control) {
  if (!over_can(instrument)) return ERR_INVALID_PARAM;
  return write_object(node, kDmdMotor2Control, control, __func__);
}

std::int32_t can_read_dmd_motor2_status(const CanInstrument& instrument, std::uint8_t node,
                                        std::uint8_t* status) {
  if (!over_can(instrument)) return ERR_INVALID_PARAM;
  return read_into(node, kDmdMotor2Status, status, __func__);
}

std::int32_t can_read_dmd_motor2_llcLevel(const CanInstrument& instrument, std::uint8_t node,
                                          std::uint16_t* level, bool invert) {
  if (!over_can(instrument)) return ERR_INVALID_PARAM;
  std::uint16_t raw = 0;
  std::int32_t err = read_into(node, kDmdMotor2LlcLevel, level ? &raw : nullptr, __func__);
  if (err == ERR_NONE) *level = invert ? static_cast<std::uint16_t>(~raw) : raw;
  return err;
}

std::int32_t can_write_dmd_motor2_llcLevel(const CanInstrument& instrument, std::uint8_t node,
                                           std::uint16_t level, bool invert) {
  if (!over_can(instrument)) return ERR_INVALID_PARAM;
  std::uint16_t raw = invert ? static_cast<std::uint16_t>(~level) : level;
  return write_object(node, kDmdMotor2LlcLevel, raw, __func__);
}

std::int32_t can_write_dmd_motor2_current(const CanInstrument& instrument, std::uint8_t node,
                                          std::uint16_t current) {
  if (!over_can(instrument)) return ERR_INVALID_PARAM;
  std::uint16_t maximum = 0;
  std::int32_t err = read_into(node, kDmdMotor2MaxCurrent, &maximum, __func__);
  if (err != ERR_NONE) return err;
  if (current > maximum) {
    u_log("%s: current=%u above maximum=%u\n", __func__, static_cast<unsigned>(current),
          static_cast<unsigned>(maximum));
    return ERR_INVALID_PARAM;
  }
  return write_object(node, kDmdMotor2Current, current, __func__);
}

std::int32_t can_read_dmd_motor2_maxCurrent(const CanInstrument& instrument, std::uint8_t node,
                                            std::uint16_t* current) {
  if (!over_can(instrument)) return ERR_INVALID_PARAM;
  return read_into(node, kDmdMotor2MaxCurrent, current, __func__);
}

std::int32_t can_read_dmd_motor2_position(const CanInstrument& instrument, std::uint8_t node,
                                          std::uint8_t* position) {
  if (!over_can(instrument)) return ERR_INVALID_PARAM;
  return read_into(node, kDmdMotor2Position, position, __func__);
}

std::int32_t can_read_dmd_keypress_mode(const CanInstrument& instrument, std::uint8_t node,
                                        std::uint8_t* mode) {
  if (!over_can(instrument)) return ERR_INVALID_PARAM;
  return read_into(node, kDmdKeypressMode, mode, __func__);
}

std::int32_t can_write_dmd_keypress_mode(const CanInstrument& instrument, std::uint8_t node,
                                         std::uint8_t mode) {
  if (!over_can(instrument)) return ERR_INVALID_PARAM;
  return write_object(node, kDmdKeypressMode, mode, __func__);
}

// --- Node operations --------------------------------------------------------

namespace {

struct NodeGate {
  std::uint8_t id;
  std::uint8_t CanInstrument::*available;
  const char* label;       // how the "not available" message names the node
  std::int32_t sdo_error;  // the node's own SDO error
};

constexpr NodeGate kRsGate{CAN_NODE_ID_DD_RS, &CanInstrument::dd_rs_available,
                           "Ring-of-Fire and Diffuser Disk", ERR_CAN_SDO_ROF_ERROR};
constexpr NodeGate kNdwGate{CAN_NODE_ID_FOCUS_NDW, &CanInstrument::focus_ndw_available,
                            "Focus and ND Wheel", ERR_CAN_SDO_NDW_ERROR};
constexpr NodeGate kAuxGate{CAN_NODE_ID_AUX_MOTOR, &CanInstrument::aux_motor_available,
                            "Auxiliary Motor", ERR_CAN_SDO_AUX_MOTOR_ERROR};

// Runs the family operation `family` on the gate's node once its flag says
// it is available; `op` names the node operation in the log.
template <class... Args>
std::int32_t on_node(const CanInstrument& instrument, const NodeGate& gate, const char* op,
                     std::int32_t (*family)(const CanInstrument&, std::uint8_t, Args...),
                     std::type_identity_t<Args>... args) {
  if (instrument.*gate.available != 1) {
    u_log("%s: CAN %s node is not available\n", op, gate.label);
    return ERR_CAN_NODE_NOT_AVAIL;
  }
  std::int32_t err = family(instrument, gate.id, args...);
  return err == kDmdError ? gate.sdo_error : err;
}

}  // namespace

// The Ring-of-Fire & Diffuser Disk node (CAN_NODE_ID_DD_RS).
std::int32_t can_read_rs_motor1_control(const CanInstrument& instrument, std::uint8_t* control) {
  return on_node(instrument, kRsGate, __func__, can_read_dmd_motor1_control, control);
}

std::int32_t can_write_rs_motor1_control(const CanInstrument& instrument, std::uint8_t control) {
  return on_node(instrument, kRsGate, __func__, can_write_dmd_motor1_control, control);
}

std::int32_t can_write_rs_motor1_mode(const CanInstrument& instrument, int mode) {
  return on_node(instrument, kRsGate, __func__, can_write_dmd_motor1_mode, mode);
}

std::int32_t can_write_rs_motor1_targetVel(const CanInstrument& instrument, float velocity) {
  return on_node(instrument, kRsGate, __func__, can_write_dmd_motor1_targetVel, velocity);
}

std::int32_t can_write_rs_control(const CanInstrument& instrument, std::uint8_t control) {
  return on_node(instrument, kRsGate, __func__, can_write_dmd_motor2_control, control);
}

std::int32_t can_read_rs_status(const CanInstrument& instrument, std::uint8_t* status) {
  return on_node(instrument, kRsGate, __func__, can_read_dmd_motor2_status, status);
}

std::int32_t can_read_rs_llcLevel(const CanInstrument& instrument, std::uint16_t* level,
                                  bool invert) {
  return on_node(instrument, kRsGate, __func__, can_read_dmd_motor2_llcLevel, level, invert);
}

std::int32_t can_write_rs_llcLevel(const CanInstrument& instrument, std::uint16_t level,
                                   bool invert) {
  return on_node(instrument, kRsGate, __func__, can_write_dmd_motor2_llcLevel, level, invert);
}

std::int32_t can_write_rs_current(const CanInstrument& instrument, std::uint16_t current) {
  return on_node(instrument, kRsGate, __func__, can_write_dmd_motor2_current, current);
}

std::int32_t can_read_rs_maxCurrent(const CanInstrument& instrument, std::uint16_t* current) {
  return on_node(instrument, kRsGate, __func__, can_read_dmd_motor2_maxCurrent, current);
}

std::int32_t can_read_rs_position(const CanInstrument& instrument, std::uint8_t* position) {
  return on_node(instrument, kRsGate, __func__, can_read_dmd_motor2_position, position);
}

std::int32_t can_read_rs_keypress_mode(const CanInstrument& instrument, std::uint8_t* mode) {
  return on_node(instrument, kRsGate, __func__, can_read_dmd_keypress_mode, mode);
}

std::int32_t can_write_rs_keypress_mode(const CanInstrument& instrument, std::uint8_t mode) {
  return on_node(instrument, kRsGate, __func__, can_write_dmd_keypress_mode, mode);
}

// The Focus & ND Wheel node (CAN_NODE_ID_FOCUS_NDW).
std::int32_t can_read_ndw_motor1_control(const CanInstrument& instrument, std::uint8_t* control) {
  return on_node(instrument, kNdwGate, __func__, can_read_dmd_motor1_control, control);
}

std::int32_t can_write_ndw_motor1_control(const CanInstrument& instrument, std::uint8_t control) {
  return on_node(instrument, kNdwGate, __func__, can_write_dmd_motor1_control, control);
}

std::int32_t can_write_ndw_motor1_mode(const CanInstrument& instrument, int mode) {
  return on_node(instrument, kNdwGate, __func__, can_write_dmd_motor1_mode, mode);
}

std::int32_t can_write_ndw_motor1_targetVel(const CanInstrument& instrument, float velocity) {
  return on_node(instrument, kNdwGate, __func__, can_write_dmd_motor1_targetVel, velocity);
}

std::int32_t can_write_ndw_control(const CanInstrument& instrument, std::uint8_t control) {
  return on_node(instrument, kNdwGate, __func__, can_write_dmd_motor2_control, control);
}

std::int32_t can_read_ndw_status(const CanInstrument& instrument, std::uint8_t* status) {
  return on_node(instrument, kNdwGate, __func__, can_read_dmd_motor2_status, status);
}

std::int32_t can_read_ndw_llcLevel(const CanInstrument& instrument, std::uint16_t* level,
                                   bool invert) {
  return on_node(instrument, kNdwGate, __func__, can_read_dmd_motor2_llcLevel, level, invert);
}

std::int32_t can_write_ndw_llcLevel(const CanInstrument& instrument, std::uint16_t level,
                                    bool invert) {
  return on_node(instrument, kNdwGate, __func__, can_write_dmd_motor2_llcLevel, level, invert);
}

std::int32_t can_write_ndw_current(const CanInstrument& instrument, std::uint16_t current) {
  return on_node(instrument, kNdwGate, __func__, can_write_dmd_motor2_current, current);
}

std::int32_t can_read_ndw_maxCurrent(const CanInstrument& instrument, std::uint16_t* current) {
  return on_node(instrument, kNdwGate, __func__, can_read_dmd_motor2_maxCurrent, current);
}

std::int32_t can_read_ndw_position(const CanInstrument& instrument, std::uint8_t* position) {
  return on_node(instrument, kNdwGate, __func__, can_read_dmd_motor2_position, position);
}

std::int32_t can_read_ndw_keypress_mode(const CanInstrument& instrument, std::uint8_t* mode) {
  return on_node(instrument, kNdwGate, __func__, can_read_dmd_keypress_mode, mode);
}

std::int32_t can_write_ndw_keypress_mode(const CanInstrument& instrument, std::uint8_t mode) {
  return on_node(instrument, kNdwGate, __func__, can_write_dmd_keypress_mode, mode);
}

// The Auxiliary Motor node (CAN_NODE_ID_AUX_MOTOR).
std::int32_t can_read_aux_motor1_control(const CanInstrument& instrument, std::uint8_t* control) {
  return on_node(instrument, kAuxGate, __func__, can_read_dmd_motor1_control, control);
}

std::int32_t can_write_aux_motor1_control(const CanInstrument& instrument, std::uint8_t control) {
  return on_node(instrument, kAuxGate, __func__, can_write_dmd_motor1_control, control);
}

std::int32_t can_write_aux_motor1_mode(const CanInstrument& instrument, int mode) {
  return on_node(instrument, kAuxGate, __func__, can_write_dmd_motor1_mode, mode);
}

std::int32_t can_write_aux_motor1_targetVel(const CanInstrument& instrument, float velocity) {
  return on_node(instrument, kAuxGate, __func__, can_write_dmd_motor1_targetVel, velocity);
}

std::int32_t can_write_aux_control(const CanInstrument& instrument, std::uint8_t control) {
  return on_node(instrument, kAuxGate, __func__, can_write_dmd_motor2_control, control);
}

std::int32_t can_read_aux_status(const CanInstrument& instrument, std::uint8_t* status) {
  return on_node(instrument, kAuxGate, __func__, can_read_dmd_motor2_status, status);
}

std::int32_t can_read_aux_llcLevel(const CanInstrument& instrument, std::uint16_t* level,
                                   bool invert) {
  return on_node(instrument, kAuxGate, __func__, can_read_dmd_motor2_llcLevel, level, invert);
}

std::int32_t can_write_aux_llcLevel(const CanInstrument& instrument, std::uint16_t level,
                                    bool invert) {
  return on_node(instrument, kAuxGate, __func__, can_write_dmd_motor2_llcLevel, level, invert);
}

std::int32_t can_write_aux_current(const CanInstrument& instrument, std::uint16_t current) {
  return on_node(instrument, kAuxGate, __func__, can_write_dmd_motor2_current, current);
}

std::int32_t can_read_aux_maxCurrent(const CanInstrument& instrument, std::uint16_t* current) {
  return on_node(instrument, kAuxGate, __func__, can_read_dmd_motor2_maxCurrent, current);
}

std::int32_t can_read_aux_position(const CanInstrument& instrument, std::uint8_t* position) {
  return on_node(instrument, kAuxGate, __func__, can_read_dmd_motor2_position, position);
}

std::int32_t can_read_aux_keypress_mode(const CanInstrument& instrument, std::uint8_t* mode) {
  return on_node(instrument, kAuxGate, __func__, can_read_dmd_keypress_mode, mode);
}

std::int32_t can_write_aux_keypress_mode(const CanInstrument& instrument, std::uint8_t mode) {
  return on_node(instrument, kAuxGate, __func__, can_write_dmd_keypress_mode, mode);
}
