// The dual-motor device family (motor 1 spins a diffuser disk, motor 2
// positions a wheel or a ring) and the node operations of its three members:
// the Ring-of-Fire & Diffuser Disk node (`rs`), the Focus & ND Wheel node
// (`ndw`) and the Auxiliary Motor node (`aux`).
#pragma once

#include <cstdint>

#include "can/can_nodes.h"

// Family operations on the node `node`. Every one returns ERR_INVALID_PARAM
// when the interface kind is not CAN, the mapped library error when the
// library call fails and ERR_CAN_SDO_DMD_ERROR when the node does not
// confirm the transfer. Out-values are only written on success.
std::int32_t can_read_dmd_motor1_control(const CanInstrument& instrument, std::uint8_t node,
                                         std::uint8_t* control);
std::int32_t can_write_dmd_motor1_control(const CanInstrument& instrument, std::uint8_t node,
                                          std::uint8_t control);
// Mode 0 to 4; any other is logged "<op>: invalid mode=<mode>" and refused
// with ERR_INVALID_PARAM.
std::int32_t can_write_dmd_motor1_mode(const CanInstrument& instrument, std::uint8_t node,
                                       int mode);
// 10 to 10000 inclusive (not a number is refused too), else ERR_INVALID_PARAM.
std::int32_t can_write_dmd_motor1_targetVel(const CanInstrument& instrument, std::uint8_t node,
                                            float velocity);
std::int32_t can_write_dmd_motor2_control(const CanInstrument& instrument, std::uint8_t node,
                                          std::uint8_t control);
// Bit 1 of the status is set while the motor moves.
std::int32_t can_read_dmd_motor2_status(const CanInstrument& instrument, std::uint8_t node,
                                        std::uint8_t* status);
inline bool can_dmd_motor2_moving(std::uint8_t status) { return (status & 0x02) != 0; }
// The 16-bit level, bitwise inverted on the way in and out when `invert`.
std::int32_t can_read_dmd_motor2_llcLevel(const CanInstrument& instrument, std::uint8_t node,
                                          std::uint16_t* level, bool invert);
std::int32_t can_write_dmd_motor2_llcLevel(const CanInstrument& instrument, std::uint8_t node,
                                           std::uint16_t level, bool invert);
// Reads the maximum current first (a failed read is returned); a current
// above the maximum is logged and refused with ERR_INVALID_PARAM.
std::int32_t can_write_dmd_motor2_current(const CanInstrument& instrument, std::uint8_t node,
                                          std::uint16_t current);
std::int32_t can_read_dmd_motor2_maxCurrent(const CanInstrument& instrument, std::uint8_t node,
                                            std::uint16_t* current);
// 1 and 2 are the two end positions.
std::int32_t can_read_dmd_motor2_position(const CanInstrument& instrument, std::uint8_t node,
                                          std::uint8_t* position);
std::int32_t can_read_dmd_keypress_mode(const CanInstrument& instrument, std::uint8_t node,
                                        std::uint8_t* mode);
std::int32_t can_write_dmd_keypress_mode(const CanInstrument& instrument, std::uint8_t node,
                                         std::uint8_t mode);

// The node operations: X(rw, suffix, family, params, args) once per family
// operation. A node operation named can_<rw><node>_<suffix> checks the
// node's availability flag (ERR_CAN_NODE_NOT_AVAIL, logged, nothing sent),
// then runs the family operation with the node's ID and returns the node's
// own SDO error in place of ERR_CAN_SDO_DMD_ERROR.
#define CAN_DMD_NODE_OPERATIONS(X, node)                                                           \
  X(read_, node, motor1_control, can_read_dmd_motor1_control, (std::uint8_t * control), (control)) \
  X(write_, node, motor1_control, can_write_dmd_motor1_control, (std::uint8_t control), (control)) \
  X(write_, node, motor1_mode, can_write_dmd_motor1_mode, (int mode), (mode))                      \
  X(write_, node, motor1_targetVel, can_write_dmd_motor1_targetVel, (float velocity), (velocity))  \
  X(write_, node, control, can_write_dmd_motor2_control, (std::uint8_t control), (control))        \
  X(read_, node, status, can_read_dmd_motor2_status, (std::uint8_t * status), (status))            \
  X(read_, node, llcLevel, can_read_dmd_motor2_llcLevel, (std::uint16_t * level, bool invert),     \
    (level, invert))                                                                               \
  X(write_, node, llcLevel, can_write_dmd_motor2_llcLevel, (std::uint16_t level, bool invert),     \
    (level, invert))                                                                               \
  X(write_, node, current, can_write_dmd_motor2_current, (std::uint16_t current), (current))       \
  X(read_, node, maxCurrent, can_read_dmd_motor2_maxCurrent, (std::uint16_t * current), (current)) \
  X(read_, node, position, can_read_dmd_motor2_position, (std::uint8_t * position), (position))    \
  X(read_, node, keypress_mode, can_read_dmd_keypress_mode, (std::uint8_t * mode), (mode))         \
  X(write_, node, keypress_mode, can_write_dmd_keypress_mode, (std::uint8_t mode), (mode))

#define CAN_DMD_UNPAREN(...) __VA_ARGS__
#define CAN_DMD_DECLARE(rw, node, suffix, family, params, args) \
  std::int32_t can_##rw##node##_##suffix(const CanInstrument& instrument, CAN_DMD_UNPAREN params);

// Declares e.g. can_read_rs_status, can_write_ndw_llcLevel,
// can_write_aux_motor1_targetVel.
CAN_DMD_NODE_OPERATIONS(CAN_DMD_DECLARE, rs)
CAN_DMD_NODE_OPERATIONS(CAN_DMD_DECLARE, ndw)
CAN_DMD_NODE_OPERATIONS(CAN_DMD_DECLARE, aux)
