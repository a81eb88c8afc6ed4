// The instrument's CAN nodes and the instrument record that says which of
// them are present.
#pragma once

#include <cstdint>

enum CanNodeId : std::uint8_t {
  CAN_NODE_ID_LARGEAP = 52,     // Large Aperture
  CAN_NODE_ID_LED = 61,         // LED
  CAN_NODE_ID_TRIPLEPZT = 62,   // Triple PZT
  CAN_NODE_ID_BRUSHMOTOR = 63,  // Dual Brush Motor
  CAN_NODE_ID_FOCUS_NDW = 64,   // Focus & ND Wheel
  CAN_NODE_ID_AUX_MOTOR = 66,   // Auxiliary Motor
  CAN_NODE_ID_DD_RS = 68,       // Ring-of-Fire & Diffuser Disk
  CAN_NODE_ID_DD_ZOOM = 70,     // Zoom & Diffuser Disk
  CAN_NODE_ID_WAND = 72,        // Primary Wand
  CAN_NODE_ID_WAND2 = 73,       // Secondary Wand
  CAN_NODE_ID_RAMP = 127,       // Ramper
};

struct CanNodeInfo {
  std::uint8_t id;
  const char* name;  // the name messages print, e.g. "CAN_NODE_ID_LED"
  const char* description;
};

inline constexpr CanNodeInfo kCanNodes[] = {
    {CAN_NODE_ID_LARGEAP, "CAN_NODE_ID_LARGEAP", "Large Aperture"},
    {CAN_NODE_ID_LED, "CAN_NODE_ID_LED", "LED"},
    {CAN_NODE_ID_TRIPLEPZT, "CAN_NODE_ID_TRIPLEPZT", "Triple PZT"},
    {CAN_NODE_ID_BRUSHMOTOR, "CAN_NODE_ID_BRUSHMOTOR", "Dual Brush Motor"},
    {CAN_NODE_ID_FOCUS_NDW, "CAN_NODE_ID_FOCUS_NDW", "Focus & ND Wheel"},
    {CAN_NODE_ID_AUX_MOTOR, "CAN_NODE_ID_AUX_MOTOR", "Auxiliary Motor"},
    {CAN_NODE_ID_DD_RS, "CAN_NODE_ID_DD_RS", "Ring-of-Fire & Diffuser Disk"},
    {CAN_NODE_ID_DD_ZOOM, "CAN_NODE_ID_DD_ZOOM", "Zoom & Diffuser Disk"},
    {CAN_NODE_ID_WAND, "CAN_NODE_ID_WAND", "Primary Wand"},
    {CAN_NODE_ID_WAND2, "CAN_NODE_ID_WAND2", "Secondary Wand"},
    {CAN_NODE_ID_RAMP, "CAN_NODE_ID_RAMP", "Ramper"},
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
  std::uint8_t largeap_available = 0;
  std::uint8_t led_available = 0;
  std::uint8_t triplepzt_available = 0;
  std::uint8_t brushmotor_available = 0;
  std::uint8_t focus_ndw_available = 0;
  std::uint8_t aux_motor_available = 0;
  std::uint8_t dd_rs_available = 0;
  std::uint8_t dd_zoom_available = 0;
  std::uint8_t wand_available = 0;
  std::uint8_t wand2_available = 0;
  std::uint8_t ramp_available = 0;
};

// The availability flag of a node in the record (nullptr for an ID outside
// the table).
std::uint8_t* can_node_available_flag(CanInstrument& instrument, std::uint8_t id);

// Sets every availability flag from the nodes the bridge lists (1 for a
// listed node, 0 otherwise). Returns 0, ERR_WRONG_INSTR_BOARD when the
// interface kind is not CAN, or the mapped library error, logged as
// "<caller>: CAN_EnumerateNodes canErr = <status>" (flags unchanged then).
std::int32_t can_update_node_availability(CanInstrument& instrument, const char* caller);
