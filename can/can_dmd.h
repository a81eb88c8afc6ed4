// The dual-motor device family (motor 1 spins a diffuser disk, motor 2
// positions a wheel or a ring) and the node operations of its three members:
// the Ring-of-Fire & Diffuser Disk node (`rs`), the Focus & ND Wheel node
// (`ndw`) and the Auxiliary Motor node (`aux`).
#pragma once

#include <cstdint>

#include "can/can_nodes.h"
#include "can/sdo_frame.h"

// One object of the family's object dictionary.
struct CanDmdObject {
  std::uint16_t index;
  std::uint8_t subindex;
  std::uint8_t size;  // bytes on the bus, little-endian: 1, 2 or 4
  CanObjectAccess access;
  std::uint32_t initial;  // the value a node holds at power-on
};

// The family's objects, e.g. kDmdMotor2Current, from can_dmd_objects.def.
#define CAN_DMD_OBJECT(constant, index, subindex, size, access, initial) \
  inline constexpr CanDmdObject constant{index, subindex, size, CanObjectAccess::access, initial};
#include "can/can_dmd_objects.def"
#undef CAN_DMD_OBJECT

// Every object of the family, in table order.
inline constexpr CanDmdObject kDmdObjects[] = {
#define CAN_DMD_OBJECT(constant, index, subindex, size, access, initial) constant,
#include "can/can_dmd_objects.def"
#undef CAN_DMD_OBJECT
};

// Family operations on the node `node`. Every one returns ERR_INVALID_PARAM
// when the interface kind is not CAN, the mapped library error when the
// library call fails and ERR_CAN_SDO_DMD_ERROR when the node does not
// confirm the transfer. Out-values are only written on success.
[[nodiscard]] std::int32_t can_read_dmd_motor1_control(const CanInstrument& instrument,
                                                       std::uint8_t node, std::uint8_t* control);
[[nodiscard]] std::int32_t can_write_dmd_motor1_control(const CanInstrument& instrument,
                                                        std::uint8_t node, std::uint8_t control);
// Mode 0 to 4; any other is logged "<op>: invalid mode=<mode>" and refused
// with ERR_INVALID_PARAM.
[[nodiscard]] std::int32_t can_write_dmd_motor1_mode(const CanInstrument& instrument,
                                                     std::uint8_t node, int mode);
// 10 to 10000 inclusive (not a number is refused too), else ERR_INVALID_PARAM.
[[nodiscard]] std::int32_t can_write_dmd_motor1_targetVel(const CanInstrument& instrument,
                                                          std::uint8_t node, float velocity);
[[nodiscard]] std::int32_t can_write_dmd_motor2_control(const CanInstrument& instrument,
                                                        std::uint8_t node, std::uint8_t control);
// Bit 1 of the status is set while the motor moves.
[[nodiscard]] std::int32_t can_read_dmd_motor2_status(const CanInstrument& instrument,
                                                      std::uint8_t node, std::uint8_t* status);
inline bool can_dmd_motor2_moving(std::uint8_t status) { return (status & 0x02) != 0; }
// The 16-bit level, bitwise inverted on the way in and out when `invert`.
[[nodiscard]] std::int32_t can_read_dmd_motor2_llcLevel(const CanInstrument& instrument,
                                                        std::uint8_t node, std::uint16_t* level,
                                                        bool invert);
[[nodiscard]] std::int32_t can_write_dmd_motor2_llcLevel(const CanInstrument& instrument,
                                                         std::uint8_t node, std::uint16_t level,
                                                         bool invert);
// Reads the maximum current first (a failed read is returned); a current
// above the maximum is logged and refused with ERR_INVALID_PARAM.
[[nodiscard]] std::int32_t can_write_dmd_motor2_current(const CanInstrument& instrument,
                                                        std::uint8_t node, std::uint16_t current);
[[nodiscard]] std::int32_t can_read_dmd_motor2_maxCurrent(const CanInstrument& instrument,
                                                          std::uint8_t node,
                                                          std::uint16_t* current);
// 1 and 2 are the two end positions.
[[nodiscard]] std::int32_t can_read_dmd_motor2_position(const CanInstrument& instrument,
                                                        std::uint8_t node, std::uint8_t* position);
[[nodiscard]] std::int32_t can_read_dmd_keypress_mode(const CanInstrument& instrument,
                                                      std::uint8_t node, std::uint8_t* mode);
[[nodiscard]] std::int32_t can_write_dmd_keypress_mode(const CanInstrument& instrument,
                                                       std::uint8_t node, std::uint8_t mode);

// The node operations, can_<read|write>_<node>_<operation>: each checks the
// node's availability flag (ERR_CAN_NODE_NOT_AVAIL, logged "<op>: CAN <node>
// node is not available", nothing sent), then runs the family operation of
// the same name with the node's ID and returns the node's own SDO error in
// place of ERR_CAN_SDO_DMD_ERROR.

// The Ring-of-Fire & Diffuser Disk node (CAN_NODE_ID_DD_RS).
[[nodiscard]] std::int32_t can_read_rs_motor1_control(const CanInstrument& instrument,
                                                      std::uint8_t* control);
[[nodiscard]] std::int32_t can_write_rs_motor1_control(const CanInstrument& instrument,
                                                       std::uint8_t control);
[[nodiscard]] std::int32_t can_write_rs_motor1_mode(const CanInstrument& instrument, int mode);
[[nodiscard]] std::int32_t can_write_rs_motor1_targetVel(const CanInstrument& instrument,
                                                         float velocity);
[[nodiscard]] std::int32_t can_write_rs_control(const CanInstrument& instrument,
                                                std::uint8_t control);
[[nodiscard]] std::int32_t can_read_rs_status(const CanInstrument& instrument,
                                              std::uint8_t* status);
[[nodiscard]] std::int32_t can_read_rs_llcLevel(const CanInstrument& instrument,
                                                std::uint16_t* level, bool invert);
[[nodiscard]] std::int32_t can_write_rs_llcLevel(const CanInstrument& instrument,
                                                 std::uint16_t level, bool invert);
[[nodiscard]] std::int32_t can_write_rs_current(const CanInstrument& instrument,
                                                std::uint16_t current);
[[nodiscard]] std::int32_t can_read_rs_maxCurrent(const CanInstrument& instrument,
                                                  std::uint16_t* current);
[[nodiscard]] std::int32_t can_read_rs_position(const CanInstrument& instrument,
                                                std::uint8_t* position);
[[nodiscard]] std::int32_t can_read_rs_keypress_mode(const CanInstrument& instrument,
                                                     std::uint8_t* mode);
[[nodiscard]] std::int32_t can_write_rs_keypress_mode(const CanInstrument& instrument,
                                                      std::uint8_t mode);

// The Focus & ND Wheel node (CAN_NODE_ID_FOCUS_NDW).
[[nodiscard]] std::int32_t can_read_ndw_motor1_control(const CanInstrument& instrument,
                                                       std::uint8_t* control);
[[nodiscard]] std::int32_t can_write_ndw_motor1_control(const CanInstrument& instrument,
                                                        std::uint8_t control);
[[nodiscard]] std::int32_t can_write_ndw_motor1_mode(const CanInstrument& instrument, int mode);
[[nodiscard]] std::int32_t can_write_ndw_motor1_targetVel(const CanInstrument& instrument,
                                                          float velocity);
[[nodiscard]] std::int32_t can_write_ndw_control(const CanInstrument& instrument,
                                                 std::uint8_t control);
[[nodiscard]] std::int32_t can_read_ndw_status(const CanInstrument& instrument,
                                               std::uint8_t* status);
[[nodiscard]] std::int32_t can_read_ndw_llcLevel(const CanInstrument& instrument,
                                                 std::uint16_t* level, bool invert);
[[nodiscard]] std::int32_t can_write_ndw_llcLevel(const CanInstrument& instrument,
                                                  std::uint16_t level, bool invert);
[[nodiscard]] std::int32_t can_write_ndw_current(const CanInstrument& instrument,
                                                 std::uint16_t current);
[[nodiscard]] std::int32_t can_read_ndw_maxCurrent(const CanInstrument& instrument,
                                                   std::uint16_t* current);
[[nodiscard]] std::int32_t can_read_ndw_position(const CanInstrument& instrument,
                                                 std::uint8_t* position);
[[nodiscard]] std::int32_t can_read_ndw_keypress_mode(const CanInstrument& instrument,
                                                      std::uint8_t* mode);
[[nodiscard]] std::int32_t can_write_ndw_keypress_mode(const CanInstrument& instrument,
                                                       std::uint8_t mode);

// The Auxiliary Motor node (CAN_NODE_ID_AUX_MOTOR).
[[nodiscard]] std::int32_t can_read_aux_motor1_control(const CanInstrument& instrument,
                                                       std::uint8_t* control);
[[nodiscard]] std::int32_t can_write_aux_motor1_control(const CanInstrument& instrument,
                                                        std::uint8_t control);
[[nodiscard]] std::int32_t can_write_aux_motor1_mode(const CanInstrument& instrument, int mode);
[[nodiscard]] std::int32_t can_write_aux_motor1_targetVel(const CanInstrument& instrument,
                                                          float velocity);
[[nodiscard]] std::int32_t can_write_aux_control(const CanInstrument& instrument,
                                                 std::uint8_t control);
[[nodiscard]] std::int32_t can_read_aux_status(const CanInstrument& instrument,
                                               std::uint8_t* status);
[[nodiscard]] std::int32_t can_read_aux_llcLevel(const CanInstrument& instrument,
                                                 std::uint16_t* level, bool invert);
[[nodiscard]] std::int32_t can_write_aux_llcLevel(const CanInstrument& instrument,
                                                  std::uint16_t level, bool invert);
[[nodiscard]] std::int32_t can_write_aux_current(const CanInstrument& instrument,
                                                 std::uint16_t current);
[[nodiscard]] std::int32_t can_read_aux_maxCurrent(const CanInstrument& instrument,
                                                   std::uint16_t* current);
[[nodiscard]] std::int32_t can_read_aux_position(const CanInstrument& instrument,
                                                 std::uint8_t* position);
[[nodiscard]] std::int32_t can_read_aux_keypress_mode(const CanInstrument& instrument,
                                                      std::uint8_t* mode);
[[nodiscard]] std::int32_t can_write_aux_keypress_mode(const CanInstrument& instrument,
                                                       std::uint8_t mode);
