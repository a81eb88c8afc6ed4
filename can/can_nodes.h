// The instrument's CAN nodes and the instrument record that says which of
// them are present.
#pragma once

#include <cstdint>

// The node IDs, e.g. CAN_NODE_ID_LED = 61 (see can_nodes.def).
enum CanNodeId : std::uint8_t {
#define CAN_NODE(enumerator, id, flag, description) enumerator = id,
#include "can/can_nodes.def"
#undef CAN_NODE
};

struct CanNodeInfo {
  std::uint8_t id;
  const char* name;  // the name messages print, e.g. "CAN_NODE_ID_LED"
  const char* description;
};

inline constexpr CanNodeInfo kCanNodes[] = {
#define CAN_NODE(enumerator, id, flag, description) {enumerator, #enumerator, description},
#include "can/can_nodes.def"
#undef CAN_NODE
};

// The table entry of a node ID, nullptr when the instrument has no such node.
const CanNodeInfo* can_node_info(std::uint8_t id);
// The name of a node ID for messages ("node <id>" texts are not used: an ID
// outside the table gives "CAN_NODE_ID_UNKNOWN").
const char* can_node_name(std::uint8_t id);

// How the instrument is reached; node operations run only over CAN.
enum class InstrumentInterface : std::uint8_t { kNone = 0, kSerial = 1, kCan = 2 };

// The instrument record: the interface kind and one availability flag per
// optional node (1 = available), set when the instrument is powered on.
struct CanInstrument {
  InstrumentInterface interface_kind = InstrumentInterface::kNone;
  // One flag per node, e.g. led_available (see can_nodes.def).
#define CAN_NODE(enumerator, id, flag, description) std::uint8_t flag = 0;
#include "can/can_nodes.def"
#undef CAN_NODE
};

// The availability flag of a node in the record (nullptr for an ID outside
// the table).
std::uint8_t* can_node_available_flag(CanInstrument& instrument, std::uint8_t id);

// Sets every availability flag from the nodes the bridge lists (1 for a
// listed node, 0 otherwise). Returns 0, ERR_WRONG_INSTR_BOARD when the
// interface kind is not CAN, or the mapped library error, logged as
// "<caller>: CAN_EnumerateNodes canErr = <status>" (flags unchanged then).
[[nodiscard]] std::int32_t can_update_node_availability(CanInstrument& instrument,
                                                        const char* caller);
