// A simulated CAN node: an expedited SDO server over an object dictionary,
// an NMT state that can turn operational after a delay, and injectable
// faults. The simulated bridge (can/sim/sim_bridge.h) holds these nodes; a
// fuzz target or a test may also drive one directly through on_frame.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "can/can_access.h"
#include "can/sdo_frame.h"

// What an entry allows; the dual-motor object table (can/can_dmd.h) uses the
// same values.
using SimAccess = CanObjectAccess;

// How a node's SDO server answers, beyond its object dictionary (for testing
// the client's checks).
enum class SimReplyStyle {
  kNormal,          // expedited reply with the size given, 8-byte frame
  kNoSize,          // expedited upload reply without a size (4 data bytes)
  kShortFrame,      // replies cut to the bytes they need
  kSegmented,       // upload replies announce a segmented transfer
  kWrongObject,     // replies name another subindex
  kUnknownCommand,  // replies carry an unknown command byte
};

class SimNode {
 public:
  explicit SimNode(std::uint8_t id);

  std::uint8_t id() const { return id_; }

  // Object dictionary: entries of 1 to 4 bytes, held little-endian.
  void add_entry(std::uint16_t index, std::uint8_t subindex, SimAccess access, std::uint8_t size,
                 std::uint32_t value = 0);
  // The stored value of an entry (nullopt when there is no such entry).
  std::optional<std::uint32_t> value(std::uint16_t index, std::uint8_t subindex) const;
  void set_value(std::uint16_t index, std::uint8_t subindex, std::uint32_t value);
  // Identity entries at 0x1018: vendor (sub 1), product (sub 2), version
  // (sub 3, major << 16 | minor), serial (sub 4); device type at 0x1000.
  void set_identity(std::uint32_t vendor, std::uint32_t product, std::uint32_t version,
                    std::uint32_t serial);
  // The entries of a dual-motor device (diffuser disk motor and positioning
  // motor): every object of kDmdObjects with its power-on value.
  void add_dual_motor_entries();

  // State: operational `delay_ms` after `since_ms` (milliseconds of the CAN
  // clock, can_clock()); a negative delay keeps the node pre-operational for
  // ever.
  void set_operational_after(std::int64_t delay_ms, std::uint64_t since_ms);
  void set_state(CanNodeState state);  // fixed state from now on
  CanNodeState state(std::uint64_t now_ms) const;

  // Faults.
  void abort_on(std::uint16_t index, std::uint8_t subindex, std::uint32_t code);
  void clear_aborts() { aborts_.clear(); }
  void set_silent(bool silent) { silent_ = silent; }  // no SDO replies, no heartbeat
  bool silent() const { return silent_; }
  void set_reply_style(SimReplyStyle style) { style_ = style; }

  // The node's SDO server: answers one request frame (nullopt: no answer).
  std::optional<CanFrame> on_frame(const CanFrame& request);

  // Every frame the node received, in order.
  const std::vector<CanFrame>& received() const { return received_; }

 private:
  struct Entry {
    SimAccess access;
    std::uint8_t size;
    std::uint32_t value;
  };
  static std::uint32_t key(std::uint16_t index, std::uint8_t subindex) {
    return (static_cast<std::uint32_t>(index) << 8) | subindex;
  }
  CanFrame styled(CanFrame reply, bool upload) const;

  std::uint8_t id_;
  std::map<std::uint32_t, Entry> entries_;
  std::map<std::uint32_t, std::uint32_t> aborts_;
  std::optional<CanNodeState> fixed_state_;
  std::int64_t operational_delay_ms_ = 0;
  std::uint64_t since_ms_ = 0;
  bool silent_ = false;
  SimReplyStyle style_ = SimReplyStyle::kNormal;
  std::vector<CanFrame> received_;
};
