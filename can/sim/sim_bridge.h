// A simulated CAN-over-network bridge with simulated nodes: the default
// backend of the CAN access library, and the test bench of the CAN layer.
//
// SDO transfers run at frame level: the bridge encodes the request frame,
// the node decodes it against its object dictionary and answers with a reply
// frame, and the bridge decodes that. Everything runs synchronously on the
// caller's thread; time (operational delays, SDO timeouts) is read from a
// CanClock, so a test with a FakeCanClock is deterministic and takes no real
// time.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "can/can_access.h"
#include "can/can_time.h"
#include "can/sdo_frame.h"

enum class SimAccess { kReadOnly, kWriteOnly, kReadWrite };

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
  // motor).
  void add_dual_motor_entries();

  // State: operational `delay_ms` after `since_ms` on the bridge's clock;
  // a negative delay keeps the node pre-operational for ever.
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

// Counters of what reached the bus or the bridge.
struct SimCounters {
  std::uint32_t calls = 0;          // every library call
  std::uint32_t sdo_transfers = 0;  // SDO requests put on the bus
  std::uint32_t find_calls = 0;     // CAN_FindNode calls
  std::uint32_t state_polls = 0;    // CAN_GetNodeState calls
  std::uint32_t frames_sent = 0;    // frames the bridge sent (requests and aborts)
};

class SimBridge : public CanAccess {
 public:
  // `clock` nullptr: the process-wide can_clock(), read at each use.
  explicit SimBridge(CanClock* clock = nullptr);

  // Adds a node that answers at once, is operational at once and has the
  // identity entries; returns it for further setup.
  SimNode& add_node(std::uint8_t id);
  SimNode* node(std::uint8_t id);
  void remove_node(std::uint8_t id);

  // The bridge starts connected. Faults for the next library call (any
  // operation): it fails with `status` and does nothing else.
  void fail_next(std::int32_t status, std::uint32_t count = 1);
  // The connection drops: the next call fails with CAN_TCP_ERR, later calls
  // with CAN_NOT_CONNECTED until CAN_Connect.
  void lose_connection();
  bool connected() const { return connected_; }
  // The SDO timeout the bridge waits (on its clock) for a silent node.
  void set_sdo_timeout_ms(std::uint32_t ms) { sdo_timeout_ms_ = ms; }
  void set_firmware_version(std::uint16_t major, std::uint16_t minor);
  // Queues a process-data message as if a node had sent it.
  void inject_pdo(const CanPdo& pdo);

  const SimCounters& counters() const { return counters_; }
  // Clears the counters and the record of sent frames.
  void reset_counters() {
    counters_ = SimCounters{};
    sent_.clear();
  }
  // Every frame the bridge put on the bus since the last reset, in order.
  const std::vector<CanFrame>& sent() const { return sent_; }

  // CanAccess
  std::int32_t sdo_read(std::uint32_t node, std::uint32_t index, std::uint32_t subindex,
                        void* buffer, std::uint32_t size, CanSdoResult* result) override;
  std::int32_t sdo_write(std::uint32_t node, std::uint32_t index, std::uint32_t subindex,
                         const void* buffer, std::uint32_t size, CanSdoResult* result) override;
  std::int32_t find_node(std::uint32_t node, std::uint32_t* status) override;
  std::int32_t get_node_state(std::uint32_t node, std::uint8_t* state) override;
  std::int32_t enumerate_nodes(std::uint8_t* nodes, std::uint32_t capacity,
                               std::uint32_t* count) override;
  std::int32_t enumerate_bridges(CanBridgeInfo* bridges, std::uint32_t capacity,
                                 std::uint32_t* count) override;
  std::int32_t connect(const CanBridgeInfo* bridge) override;
  std::int32_t disconnect() override;
  std::int32_t get_firmware_version(std::uint16_t* major, std::uint16_t* minor) override;
  std::int32_t get_bridge_configuration(CanBridgeConfig* config) override;
  std::int32_t set_bridge_configuration(const CanBridgeConfig* config) override;
  std::int32_t get_last_bridge_error(std::int32_t* error) override;
  std::int32_t reset_bridge() override;
  std::int32_t register_events(CanEventCallback callback, void* context) override;
  std::int32_t register_pdo(std::uint32_t cob_id) override;
  std::int32_t get_pdo(CanPdo* pdo) override;
  std::int32_t unregister_pdos() override;

 private:
  CanClock& clock() { return clock_ ? *clock_ : can_clock(); }
  // Start of every call: counts it and applies the pending faults. Returns
  // CAN_OK when the call may go on.
  std::int32_t begin_call(bool needs_connection);
  std::int32_t transfer(std::uint32_t node, std::uint32_t index, std::uint32_t subindex,
                        bool upload, std::uint8_t* bytes, std::uint32_t size, CanSdoResult* result);
  void send(const CanFrame& frame);

  std::recursive_mutex mutex_;
  CanClock* clock_;
  std::map<std::uint8_t, std::unique_ptr<SimNode>> nodes_;
  SimCounters counters_;
  std::vector<CanFrame> sent_;
  std::deque<std::int32_t> pending_failures_;
  bool connected_ = true;
  bool losing_connection_ = false;
  std::uint32_t sdo_timeout_ms_ = 300;
  std::uint16_t firmware_major_ = 2;
  std::uint16_t firmware_minor_ = 5;
  std::int32_t last_bridge_error_ = 0;
  CanBridgeInfo info_;
  CanBridgeConfig config_;
  CanEventCallback event_callback_ = nullptr;
  void* event_context_ = nullptr;
  std::vector<std::uint32_t> pdo_ids_;
  std::deque<CanPdo> pdo_queue_;
};

// The default backend: a connected simulated bridge holding the instrument's
// nodes (every ID of the node table), all operational, the dual-motor nodes
// with their device entries.
std::unique_ptr<SimBridge> make_default_sim_bridge(CanClock* clock = nullptr);
