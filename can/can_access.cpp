#include "can/can_access.h"

#include <mutex>

#include "can/sim/sim_bridge.h"
#include "errors/errors.h"
#include "log/log.h"

namespace {

std::mutex g_access_mutex;  // guards creating and swapping the backend
std::unique_ptr<CanAccess> g_access;

}  // namespace

CanAccess& can_access() {
  std::lock_guard<std::mutex> lock(g_access_mutex);
  if (!g_access) g_access = make_default_sim_bridge();
  return *g_access;
}

std::unique_ptr<CanAccess> can_set_access(std::unique_ptr<CanAccess> access) {
  std::lock_guard<std::mutex> lock(g_access_mutex);
  std::unique_ptr<CanAccess> previous = std::move(g_access);
  g_access = std::move(access);
  return previous;
}

std::int32_t CAN_SDORead(std::uint32_t node, std::uint32_t index, std::uint32_t subindex,
                         void* buffer, std::uint32_t size, CanSdoResult* result) {
  return can_access().sdo_read(node, index, subindex, buffer, size, result);
}

std::int32_t CAN_SDOWrite(std::uint32_t node, std::uint32_t index, std::uint32_t subindex,
                          const void* buffer, std::uint32_t size, CanSdoResult* result) {
  return can_access().sdo_write(node, index, subindex, buffer, size, result);
}

std::int32_t CAN_FindNode(std::uint32_t node, std::uint32_t* status) {
  return can_access().find_node(node, status);
}

std::int32_t CAN_GetNodeState(std::uint32_t node, std::uint8_t* state) {
  return can_access().get_node_state(node, state);
}

std::int32_t CAN_EnumerateNodes(std::uint8_t* nodes, std::uint32_t capacity, std::uint32_t* count) {
  return can_access().enumerate_nodes(nodes, capacity, count);
}

std::int32_t CAN_EnumerateBridges(CanBridgeInfo* bridges, std::uint32_t capacity,
                                  std::uint32_t* count) {
  return can_access().enumerate_bridges(bridges, capacity, count);
}

std::int32_t CAN_Connect(const CanBridgeInfo* bridge) { return can_access().connect(bridge); }

std::int32_t CAN_Disconnect() { return can_access().disconnect(); }

std::int32_t CAN_GetFirmwareVersion(std::uint16_t* major, std::uint16_t* minor) {
  return can_access().get_firmware_version(major, minor);
}

std::int32_t CAN_GetBridgeConfiguration(CanBridgeConfig* config) {
  return can_access().get_bridge_configuration(config);
}

std::int32_t CAN_SetBridgeConfiguration(const CanBridgeConfig* config) {
  return can_access().set_bridge_configuration(config);
}

std::int32_t CAN_GetLastBridgeError(std::int32_t* error) {
  return can_access().get_last_bridge_error(error);
}

std::int32_t CAN_ResetBridge() { return can_access().reset_bridge(); }

std::int32_t CAN_RegisterEvents(CanEventCallback callback, void* context) {
  return can_access().register_events(callback, context);
}

std::int32_t CAN_RegisterPDO(std::uint32_t cob_id) { return can_access().register_pdo(cob_id); }

std::int32_t CAN_GetPDO(CanPdo* pdo) { return can_access().get_pdo(pdo); }

std::int32_t CAN_UnregisterPDOs() { return can_access().unregister_pdos(); }

std::int32_t can_status_to_error(std::int32_t status) {
  switch (status) {
    case CAN_OK:
      return ERR_NONE;
    case CAN_ERR:
      return ERR_CAN_ERROR;
    case CAN_NOT_CONNECTED:
      return ERR_CAN_NOT_CONNECTED;
    case CAN_TIMEOUT:
      return ERR_CAN_TIMEOUT;
    case CAN_TCP_ERR:
      return ERR_CAN_TCP_TRANSMISSION_ERROR;
    case CAN_BUF_TOO_SMALL:
      return ERR_CAN_BUFFER_TOO_SMALL;
    case CAN_NO_PDO:
      return ERR_CAN_NO_PDO;
    default:  // 0 and anything the library should never return
      return ERR_UNKNOWN;
  }
}

std::int32_t can_check_status(const char* caller, const char* operation, std::int32_t status) {
  if (status == CAN_OK) return ERR_NONE;
  u_log("%s: %s canErr = %d\n", caller, operation, static_cast<int>(status));
  return can_status_to_error(status);
}

std::int32_t can_connect_bridge(const char* caller) {
  return can_check_status(caller, "CAN_Connect", CAN_Connect(nullptr));
}

std::int32_t can_disconnect_bridge(const char* caller) {
  return can_check_status(caller, "CAN_Disconnect", CAN_Disconnect());
}

std::int32_t can_reset_bridge() {
  std::int32_t status = CAN_ResetBridge();
  if (status == CAN_OK) return ERR_NONE;
  u_log("CAN_ResetBridge canErr %d\n", static_cast<int>(status));
  return can_status_to_error(status);
}

std::int32_t can_bridge_firmware_version(const char* caller, std::uint16_t* major,
                                         std::uint16_t* minor) {
  std::uint16_t maj = 0;
  std::uint16_t min = 0;
  std::int32_t err =
      can_check_status(caller, "CAN_GetFirmwareVersion", CAN_GetFirmwareVersion(&maj, &min));
  if (err != ERR_NONE) maj = min = 0;
  if (major) *major = maj;
  if (minor) *minor = min;
  return err;
}
