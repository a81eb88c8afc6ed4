// Object-dictionary access to the instrument's CAN nodes and the search for
// an operational node.
#pragma once

#include <cstdint>

#include "can/can_nodes.h"

// One SDO read or write through the access library. `activity` 1 sets the
// library's bus-activity event (when it exists) whatever the outcome.
// Returns 0 on success; the mapped library error when the call fails
// (logged "can_sdo_read2 called by <caller>: err=<name>"); `sdo_error` when
// the node does not confirm the transfer (logged with the outcome and the
// abort code as eight upper-case hexadecimal digits; the logged error is the
// one returned, ERR_CAN_ERROR when `sdo_error` is 0). A node ID outside 1..127, a size
// other than 1, 2 or 4 or a null buffer is refused as the library refuses
// it (ERR_CAN_ERROR, logged) and nothing is sent.
[[nodiscard]] std::int32_t can_sdo_read2(std::uint8_t node, std::uint16_t index,
                                         std::uint8_t subindex, void* buffer, std::uint32_t size,
                                         int activity, std::int32_t sdo_error, const char* caller);
[[nodiscard]] std::int32_t can_sdo_write2(std::uint8_t node, std::uint16_t index,
                                          std::uint8_t subindex, const void* buffer,
                                          std::uint32_t size, int activity, std::int32_t sdo_error,
                                          const char* caller);

// True when CAN_FindNode reports the node as answering (status 2).
[[nodiscard]] bool find_node(std::uint8_t node, const char* name);
// Polls the node's state up to 10 times, pausing 200 ms on the CAN clock
// (can_clock(), the clock the simulated bridge reads as well) and running
// the idle hook after each poll that does not find it operational. True
// once a poll finds it operational.
[[nodiscard]] bool wait_for_node_operational(std::uint8_t node, const char* name);
// find_node, wait_for_node_operational, then the product ID into
// `product_id` (may be nullptr). False at the first failure, which is logged.
[[nodiscard]] bool get_operational_node(const CanInstrument& instrument, std::uint8_t node,
                                        const char* name, std::uint32_t* product_id);

// The node's product ID (object 0x1018 sub 2). ERR_WRONG_INSTR_BOARD when the
// interface is not CAN; `product_id` is only written on success.
[[nodiscard]] std::int32_t can_read_productID(const CanInstrument& instrument, std::uint8_t node,
                                              std::uint32_t* product_id);
// The node's version (object 0x1018 sub 3): major is the upper 16 bits, minor
// the lower 16 bits. ERR_WRONG_INSTR_BOARD when the interface is not CAN.
[[nodiscard]] std::int32_t can_read_version(const CanInstrument& instrument, std::uint8_t node,
                                            std::uint16_t* major, std::uint16_t* minor);

// The number of polls and the pause between them of wait_for_node_operational.
inline constexpr int kNodeStatePolls = 10;
inline constexpr std::uint32_t kNodeStatePauseMs = 200;
