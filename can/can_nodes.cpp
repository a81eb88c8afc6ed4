#include "can/can_nodes.h"

#include "can/can_access.h"
#include "errors/errors.h"

const CanNodeInfo* can_node_info(std::uint8_t id) {
  for (const CanNodeInfo& info : kCanNodes)
    if (info.id == id) return &info;
  return nullptr;
}

const char* can_node_name(std::uint8_t id) {
  const CanNodeInfo* info = can_node_info(id);
  return info ? info->name : "CAN_NODE_ID_UNKNOWN";
}

std::uint8_t* can_node_available_flag(CanInstrument& instrument, std::uint8_t id) {
  switch (id) {
#define CAN_NODE(enumerator, node_id, flag, description) \
  case enumerator:                                       \
    return &instrument.flag;
#include "can/can_nodes.def"
#undef CAN_NODE
    default:
      return nullptr;
  }
}

std::int32_t can_update_node_availability(CanInstrument& instrument, const char* caller) {
  if (instrument.interface_kind != InstrumentInterface::kCan) return ERR_WRONG_INSTR_BOARD;
  std::uint8_t present[127] = {};
  std::uint32_t count = 0;
  std::int32_t err = can_check_status(caller, "CAN_EnumerateNodes",
                                      CAN_EnumerateNodes(present, sizeof present, &count));
  if (err != ERR_NONE) return err;
  for (const CanNodeInfo& info : kCanNodes) *can_node_available_flag(instrument, info.id) = 0;
  for (std::uint32_t i = 0; i < count && i < sizeof present; ++i) {
    if (std::uint8_t* flag = can_node_available_flag(instrument, present[i])) *flag = 1;
  }
  return ERR_NONE;
}
