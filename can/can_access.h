// The boundary to the CAN access library that drives the CAN-over-network
// bridge. The instrument code calls only the CAN_* operations below, the way
// it calls the vendor's dynamic library; behind them sits one process-wide
// backend object (a simulated bridge unless a test or a program swaps in
// another one with can_set_access).
#pragma once

#include <cstdint>
#include <memory>

// Status of every library operation ("canErr"): 1 is success, 0 and -1..-6
// are failures.
enum CanStatus : std::int32_t {
  CAN_OK = 1,
  CAN_ERR_GENERAL = 0,
  CAN_ERR = -1,            // bad argument or general failure
  CAN_NOT_CONNECTED = -2,  // no connection to a bridge
  CAN_TIMEOUT = -3,        // the node or the bridge did not answer in time
  CAN_TCP_ERR = -4,        // the network link to the bridge failed
  CAN_BUF_TOO_SMALL = -5,  // the caller's buffer cannot hold the answer
  CAN_NO_PDO = -6,         // no process-data message is waiting
};

// The result record of one SDO transfer, filled by the library.
struct CanSdoResult {
  std::uint32_t reserved = 0;    // not read by the callers
  std::uint32_t outcome = 0;     // 1 = transfer confirmed by the node
  std::uint32_t abort_code = 0;  // SDO abort code, meaningful when outcome != 1
};

// SDO outcomes written into CanSdoResult::outcome.
inline constexpr std::uint32_t kSdoConfirmed = 1;
inline constexpr std::uint32_t kSdoAborted = 2;  // the node or the client aborted
inline constexpr std::uint32_t kSdoNoAnswer = 0;

// Node states reported by CAN_GetNodeState (2 is operational).
enum CanNodeState : std::uint8_t {
  CAN_STATE_UNKNOWN = 0,  // no heartbeat seen
  CAN_STATE_PREOPERATIONAL = 1,
  CAN_STATE_OPERATIONAL = 2,
  CAN_STATE_STOPPED = 3,
  CAN_STATE_BOOTUP = 4,
};

// CAN_FindNode's out-value when the node answered.
inline constexpr std::uint32_t kCanNodeFound = 2;

// A bridge found on the network.
struct CanBridgeInfo {
  std::uint8_t mac[6] = {};
  std::uint8_t ipv4[4] = {};
};

// The bridge's configuration record.
struct CanBridgeConfig {
  std::uint8_t ipv4[4] = {};
  std::uint8_t netmask[4] = {};
  std::uint8_t gateway[4] = {};
  std::uint8_t use_dhcp = 0;
  std::uint32_t bitrate_kbit = 500;  // CAN bit rate: 125, 250, 500 or 1000
  std::uint32_t heartbeat_ms = 100;  // expected heartbeat period of the nodes
};

// A process-data (or emergency) message received by the bridge.
struct CanPdo {
  std::uint32_t cob_id = 0;
  std::uint8_t length = 0;
  std::uint8_t data[8] = {};
};

// Events the library reports to a registered callback.
enum CanEventKind : std::int32_t {
  CAN_EVENT_NODE_STATE = 1,  // a node's state changed; `value` is the new state
  CAN_EVENT_EMERGENCY = 2,   // a node sent an emergency; `value` is its error code
  CAN_EVENT_CONNECTION_LOST = 3,
};
using CanEventCallback = void (*)(std::int32_t kind, std::uint8_t node, std::uint32_t value,
                                  void* context);

// One backend of the library. Argument rules shared by every backend: node IDs
// lie in 1..127, SDO sizes are 1, 2 or 4, out-pointers are not null; otherwise
// CAN_ERR and nothing is sent.
class CanAccess {
 public:
  virtual ~CanAccess() = default;

  [[nodiscard]] virtual std::int32_t sdo_read(std::uint32_t node, std::uint32_t index,
                                              std::uint32_t subindex, void* buffer,
                                              std::uint32_t size, CanSdoResult* result) = 0;
  [[nodiscard]] virtual std::int32_t sdo_write(std::uint32_t node, std::uint32_t index,
                                               std::uint32_t subindex, const void* buffer,
                                               std::uint32_t size, CanSdoResult* result) = 0;
  [[nodiscard]] virtual std::int32_t find_node(std::uint32_t node, std::uint32_t* status) = 0;
  [[nodiscard]] virtual std::int32_t get_node_state(std::uint32_t node, std::uint8_t* state) = 0;
  // Fills up to `capacity` present node IDs; `count` is the number present.
  // A list that does not fit gives CAN_BUF_TOO_SMALL (count still set).
  [[nodiscard]] virtual std::int32_t enumerate_nodes(std::uint8_t* nodes, std::uint32_t capacity,
                                                     std::uint32_t* count) = 0;
  [[nodiscard]] virtual std::int32_t enumerate_bridges(CanBridgeInfo* bridges,
                                                       std::uint32_t capacity,
                                                       std::uint32_t* count) = 0;
  // Connects to `bridge` (nullptr: the first bridge found).
  [[nodiscard]] virtual std::int32_t connect(const CanBridgeInfo* bridge) = 0;
  [[nodiscard]] virtual std::int32_t disconnect() = 0;
  [[nodiscard]] virtual std::int32_t get_firmware_version(std::uint16_t* major,
                                                          std::uint16_t* minor) = 0;
  [[nodiscard]] virtual std::int32_t get_bridge_configuration(CanBridgeConfig* config) = 0;
  [[nodiscard]] virtual std::int32_t set_bridge_configuration(const CanBridgeConfig* config) = 0;
  [[nodiscard]] virtual std::int32_t get_last_bridge_error(std::int32_t* error) = 0;
  [[nodiscard]] virtual std::int32_t reset_bridge() = 0;
  [[nodiscard]] virtual std::int32_t register_events(CanEventCallback callback, void* context) = 0;
  [[nodiscard]] virtual std::int32_t register_pdo(std::uint32_t cob_id) = 0;
  // Takes the oldest waiting message of a registered COB-ID; CAN_NO_PDO when
  // none is waiting.
  [[nodiscard]] virtual std::int32_t get_pdo(CanPdo* pdo) = 0;
  [[nodiscard]] virtual std::int32_t unregister_pdos() = 0;
};

// The process-wide backend. The first use creates the default one, a
// simulated bridge holding the instrument's nodes (see can/sim/sim_bridge.h).
CanAccess& can_access();
// Replaces the backend (nullptr restores a fresh default) and returns the
// previous one. Not to be called while another thread is inside a CAN_ call.
std::unique_ptr<CanAccess> can_set_access(std::unique_ptr<CanAccess> access);

// The library operations, forwarded to the process-wide backend.
[[nodiscard]] std::int32_t CAN_SDORead(std::uint32_t node, std::uint32_t index,
                                       std::uint32_t subindex, void* buffer, std::uint32_t size,
                                       CanSdoResult* result);
[[nodiscard]] std::int32_t CAN_SDOWrite(std::uint32_t node, std::uint32_t index,
                                        std::uint32_t subindex, const void* buffer,
                                        std::uint32_t size, CanSdoResult* result);
[[nodiscard]] std::int32_t CAN_FindNode(std::uint32_t node, std::uint32_t* status);
[[nodiscard]] std::int32_t CAN_GetNodeState(std::uint32_t node, std::uint8_t* state);
[[nodiscard]] std::int32_t CAN_EnumerateNodes(std::uint8_t* nodes, std::uint32_t capacity,
                                              std::uint32_t* count);
[[nodiscard]] std::int32_t CAN_EnumerateBridges(CanBridgeInfo* bridges, std::uint32_t capacity,
                                                std::uint32_t* count);
[[nodiscard]] std::int32_t CAN_Connect(const CanBridgeInfo* bridge);
[[nodiscard]] std::int32_t CAN_Disconnect();
[[nodiscard]] std::int32_t CAN_GetFirmwareVersion(std::uint16_t* major, std::uint16_t* minor);
[[nodiscard]] std::int32_t CAN_GetBridgeConfiguration(CanBridgeConfig* config);
[[nodiscard]] std::int32_t CAN_SetBridgeConfiguration(const CanBridgeConfig* config);
[[nodiscard]] std::int32_t CAN_GetLastBridgeError(std::int32_t* error);
[[nodiscard]] std::int32_t CAN_ResetBridge();
[[nodiscard]] std::int32_t CAN_RegisterEvents(CanEventCallback callback, void* context);
[[nodiscard]] std::int32_t CAN_RegisterPDO(std::uint32_t cob_id);
[[nodiscard]] std::int32_t CAN_GetPDO(CanPdo* pdo);
[[nodiscard]] std::int32_t CAN_UnregisterPDOs();

// The one mapping from a library status to an error code: 1 gives 0, the
// known failures their ERR_CAN_ code, 0 and any other value ERR_UNKNOWN.
[[nodiscard]] std::int32_t can_status_to_error(std::int32_t status);

// Logs a failed library call as "<caller>: <operation> canErr = <status>" and
// returns the mapped error code; returns 0 without logging when status is 1.
[[nodiscard]] std::int32_t can_check_status(const char* caller, const char* operation,
                                            std::int32_t status);

// Bridge-level operations of the instrument code, each logging a failure in
// the same form with its caller's name.
[[nodiscard]] std::int32_t can_connect_bridge(const char* caller);
[[nodiscard]] std::int32_t can_disconnect_bridge(const char* caller);
// Resets the bridge; a failure logs "CAN_ResetBridge canErr <status>".
[[nodiscard]] std::int32_t can_reset_bridge();
// The bridge firmware version; both out-values are set to 0 on failure.
[[nodiscard]] std::int32_t can_bridge_firmware_version(const char* caller, std::uint16_t* major,
                                                       std::uint16_t* minor);
