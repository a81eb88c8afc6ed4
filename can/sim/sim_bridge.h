// A simulated CAN-over-network bridge holding simulated nodes
// (can/sim/sim_node.h): the default backend of the CAN access library, and
// the test bench of the CAN layer.
//
// SDO transfers run at frame level: the bridge encodes the request frame,
// the node decodes it against its object dictionary and answers with a reply
// frame, and the bridge decodes that. Everything runs synchronously on the
// caller's thread.
//
// Time (operational delays, SDO timeouts) is read from the process-wide CAN
// clock, can_clock() (can/can_time.h), at each use: the same clock on which
// the layer's waits (wait_for_node_operational) pause. A bridge has no clock
// of its own, so a test that installs a FakeCanClock with can_set_clock
// moves the simulated nodes and the waits together, deterministically and
// in no real time.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "can/can_access.h"
#include "can/sdo_frame.h"
#include "can/sim/sim_node.h"

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
  SimBridge();

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
  // The SDO timeout the bridge waits (on the CAN clock) for a silent node.
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
  [[nodiscard]] std::int32_t sdo_read(std::uint32_t node, std::uint32_t index,
                                      std::uint32_t subindex, void* buffer, std::uint32_t size,
                                      CanSdoResult* result) override;
  [[nodiscard]] std::int32_t sdo_write(std::uint32_t node, std::uint32_t index,
                                       std::uint32_t subindex, const void* buffer,
                                       std::uint32_t size, CanSdoResult* result) override;
  [[nodiscard]] std::int32_t find_node(std::uint32_t node, std::uint32_t* status) override;
  [[nodiscard]] std::int32_t get_node_state(std::uint32_t node, std::uint8_t* state) override;
  [[nodiscard]] std::int32_t enumerate_nodes(std::uint8_t* nodes, std::uint32_t capacity,
                                             std::uint32_t* count) override;
  [[nodiscard]] std::int32_t enumerate_bridges(CanBridgeInfo* bridges, std::uint32_t capacity,
                                               std::uint32_t* count) override;
  [[nodiscard]] std::int32_t connect(const CanBridgeInfo* bridge) override;
  [[nodiscard]] std::int32_t disconnect() override;
  [[nodiscard]] std::int32_t get_firmware_version(std::uint16_t* major,
                                                  std::uint16_t* minor) override;
  [[nodiscard]] std::int32_t get_bridge_configuration(CanBridgeConfig* config) override;
  [[nodiscard]] std::int32_t set_bridge_configuration(const CanBridgeConfig* config) override;
  [[nodiscard]] std::int32_t get_last_bridge_error(std::int32_t* error) override;
  [[nodiscard]] std::int32_t reset_bridge() override;
  [[nodiscard]] std::int32_t register_events(CanEventCallback callback, void* context) override;
  [[nodiscard]] std::int32_t register_pdo(std::uint32_t cob_id) override;
  [[nodiscard]] std::int32_t get_pdo(CanPdo* pdo) override;
  [[nodiscard]] std::int32_t unregister_pdos() override;

 private:
  // Start of every call: counts it and applies the pending faults. Returns
  // CAN_OK when the call may go on.
  [[nodiscard]] std::int32_t begin_call(bool needs_connection);
  // One library call: holds the lock, runs begin_call and then, when the
  // call may go on, `body`, whose status it returns.
  template <class Body>
  [[nodiscard]] std::int32_t locked_call(bool needs_connection, Body&& body) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::int32_t status = begin_call(needs_connection);
    return status == CAN_OK ? body() : status;
  }
  [[nodiscard]] std::int32_t transfer(std::uint32_t node, std::uint32_t index,
                                      std::uint32_t subindex, bool upload, std::uint8_t* bytes,
                                      std::uint32_t size, CanSdoResult* result);
  void send(const CanFrame& frame);

  std::recursive_mutex mutex_;
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
std::unique_ptr<SimBridge> make_default_sim_bridge();
