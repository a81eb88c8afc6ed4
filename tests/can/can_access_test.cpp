// The CAN access library boundary: status mapping, SDO frame codec and the
// simulated bridge behind the CAN_ operations.
#include "can/can_access.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "can/can_nodes.h"
#include "can/can_time.h"
#include "can/sdo_frame.h"
#include "can/sim/sim_bridge.h"
#include "errors/errors.h"
#include "log/log.h"
#include "tests/can/can_fixture.h"

namespace {

using CanAccessTest = CanFixture;

std::vector<std::uint8_t> bytes_of(const CanFrame& frame) {
  return std::vector<std::uint8_t>(frame.data, frame.data + frame.length);
}

CanFrame frame_of(std::uint32_t cob_id, std::vector<std::uint8_t> bytes) {
  CanFrame frame;
  frame.cob_id = cob_id;
  frame.length = static_cast<std::uint8_t>(bytes.size());
  std::memcpy(frame.data, bytes.data(), bytes.size());
  return frame;
}

}  // namespace

TEST(CanStatusMapping, EveryStatusHasItsCode) {
  struct Row {
    std::int32_t status;
    std::int32_t code;
  };
  const Row rows[] = {
      {1, ERR_NONE},
      {0, ERR_UNKNOWN},
      {-1, ERR_CAN_ERROR},
      {-2, ERR_CAN_NOT_CONNECTED},
      {-3, ERR_CAN_TIMEOUT},
      {-4, ERR_CAN_TCP_TRANSMISSION_ERROR},
      {-5, ERR_CAN_BUFFER_TOO_SMALL},
      {-6, ERR_CAN_NO_PDO},
      {2, ERR_UNKNOWN},
      {7, ERR_UNKNOWN},
      {-7, ERR_UNKNOWN},
      {INT32_MIN, ERR_UNKNOWN},
      {INT32_MAX, ERR_UNKNOWN},
  };
  for (const Row& row : rows)
    EXPECT_EQ(can_status_to_error(row.status), row.code) << "status " << row.status;
}

TEST_F(CanAccessTest, FailedBridgeCallsAreLoggedInTheirForms) {
  EXPECT_EQ(can_check_status("power_on", "CAN_Connect", CAN_OK), ERR_NONE);
  EXPECT_EQ(log_, "");

  bridge_->fail_next(CAN_TCP_ERR);
  EXPECT_EQ(can_connect_bridge("power_on"), ERR_CAN_TCP_TRANSMISSION_ERROR);
  bridge_->fail_next(CAN_TIMEOUT);
  EXPECT_EQ(can_reset_bridge(), ERR_CAN_TIMEOUT);
  bridge_->fail_next(CAN_ERR_GENERAL);
  std::uint16_t major = 9, minor = 9;
  EXPECT_EQ(can_bridge_firmware_version("show_bridge", &major, &minor), ERR_UNKNOWN);
  EXPECT_EQ(major, 0);
  EXPECT_EQ(minor, 0);
  EXPECT_EQ(log_,
            "power_on: CAN_Connect canErr = -4\n"
            "CAN_ResetBridge canErr -3\n"
            "show_bridge: CAN_GetFirmwareVersion canErr = 0\n");

  EXPECT_EQ(can_bridge_firmware_version("show_bridge", &major, &minor), ERR_NONE);
  EXPECT_EQ(major, 2);
  EXPECT_EQ(minor, 5);
}

TEST(SdoFrameCodec, RequestsHaveTheStandardLayout) {
  CanFrame up = sdo_upload_request(0x7F, 0x1018, 1);
  EXPECT_EQ(up.cob_id, 0x67Fu);
  EXPECT_EQ(bytes_of(up), (std::vector<std::uint8_t>{0x40, 0x18, 0x10, 0x01, 0, 0, 0, 0}));

  const std::uint8_t value[4] = {0xA0, 0x0F, 0, 0};
  CanFrame down2 = sdo_download_request(2, 0x1017, 0, value, 2);
  EXPECT_EQ(down2.cob_id, 0x602u);
  EXPECT_EQ(bytes_of(down2), (std::vector<std::uint8_t>{0x2B, 0x17, 0x10, 0x00, 0xA0, 0x0F, 0, 0}));
  EXPECT_EQ(sdo_download_request(2, 0x2000, 0, value, 1).data[0], 0x2F);
  EXPECT_EQ(sdo_download_request(2, 0x2000, 0, value, 4).data[0], 0x23);

  CanFrame abort = sdo_abort_frame(0x5FF, 0x1018, 1, kAbortNoSubindex);
  EXPECT_EQ(bytes_of(abort),
            (std::vector<std::uint8_t>{0x80, 0x18, 0x10, 0x01, 0x11, 0x00, 0x09, 0x06}));

  SdoRequest req = sdo_decode_request(down2);
  EXPECT_EQ(req.kind, SdoRequest::kDownload);
  EXPECT_EQ(req.index, 0x1017);
  EXPECT_EQ(req.size, 2);
  EXPECT_EQ(req.data[0], 0xA0);
  EXPECT_EQ(sdo_decode_request(frame_of(0x602, {0x60, 0, 0, 0, 0, 0, 0, 0})).kind,
            SdoRequest::kInvalid);
}

TEST(SdoFrameCodec, RepliesAreDecodedAndCheckedAgainstTheRequest) {
  // Sizes 1, 2, 4 from the command byte.
  SdoReply r1 =
      sdo_decode_reply(frame_of(0x582, {0x4F, 0x00, 0x20, 0x00, 0xAB, 0, 0, 0}), true, 0x2000, 0);
  EXPECT_EQ(r1.kind, SdoReply::kUploadData);
  EXPECT_EQ(r1.size, 1);
  EXPECT_EQ(r1.data[0], 0xAB);
  SdoReply r4 =
      sdo_decode_reply(frame_of(0x582, {0x43, 0x18, 0x10, 0x01, 4, 3, 2, 1}), true, 0x1018, 1);
  EXPECT_EQ(r4.size, 4);
  EXPECT_EQ(r4.data[3], 1);
  // No size given: four bytes.
  EXPECT_EQ(
      sdo_decode_reply(frame_of(0x582, {0x42, 0x18, 0x10, 0x01, 1, 2, 3, 4}), true, 0x1018, 1).size,
      4);
  // An unpadded reply holding every byte it needs still decodes; one that
  // is cut short of its data does not.
  EXPECT_EQ(sdo_decode_reply(frame_of(0x582, {0x4F, 0x00, 0x20, 0x00, 7}), true, 0x2000, 0).kind,
            SdoReply::kUploadData);
  EXPECT_EQ(sdo_decode_reply(frame_of(0x582, {0x4B, 0x00, 0x20, 0x00, 7}), true, 0x2000, 0).kind,
            SdoReply::kProtocolError);
  // Abort reply keeps its code.
  SdoReply ab = sdo_decode_reply(frame_of(0x582, {0x80, 0x18, 0x10, 0x01, 0x11, 0x00, 0x09, 0x06}),
                                 true, 0x1018, 1);
  EXPECT_EQ(ab.kind, SdoReply::kAbort);
  EXPECT_EQ(ab.abort_code, 0x06090011u);
  // Client checks: other object, segmented, unknown command, wrong kind.
  EXPECT_EQ(sdo_decode_reply(frame_of(0x582, {0x43, 0x18, 0x10, 0x02, 0, 0, 0, 0}), true, 0x1018, 1)
                .abort_code,
            kAbortParameterIncompatible);
  EXPECT_EQ(sdo_decode_reply(frame_of(0x582, {0x41, 0x18, 0x10, 0x01, 9, 0, 0, 0}), true, 0x1018, 1)
                .abort_code,
            kAbortUnknownCommand);
  EXPECT_EQ(
      sdo_decode_reply(frame_of(0x582, {0xE0, 0x18, 0x10, 0x01, 0, 0, 0, 0}), true, 0x1018, 1).kind,
      SdoReply::kProtocolError);
  EXPECT_EQ(
      sdo_decode_reply(frame_of(0x582, {0x60, 0x18, 0x10, 0x01, 0, 0, 0, 0}), true, 0x1018, 1).kind,
      SdoReply::kProtocolError);
  EXPECT_EQ(sdo_decode_reply(frame_of(0x582, {0x60, 0x18, 0x10, 0x01}), false, 0x1018, 1).kind,
            SdoReply::kDownloadDone);
}

TEST_F(CanAccessTest, TransfersRoundTripThroughTheNodesDictionary) {
  SimNode& node = bridge_->add_node(5);
  node.add_entry(0x2100, 0, SimAccess::kReadWrite, 1);
  node.add_entry(0x2100, 1, SimAccess::kReadWrite, 2);
  node.add_entry(0x2100, 2, SimAccess::kReadWrite, 4);
  CanSdoResult result;

  std::uint8_t b = 0xC3;
  EXPECT_EQ(CAN_SDOWrite(5, 0x2100, 0, &b, 1, &result), CAN_OK);
  EXPECT_EQ(result.outcome, kSdoConfirmed);
  std::int16_t s = -2;  // sign bits must survive
  EXPECT_EQ(CAN_SDOWrite(5, 0x2100, 1, &s, 2, &result), CAN_OK);
  float f = 1234.5f;
  EXPECT_EQ(CAN_SDOWrite(5, 0x2100, 2, &f, 4, &result), CAN_OK);
  EXPECT_EQ(node.value(0x2100, 1), 0xFFFEu);

  std::uint8_t b2 = 0;
  std::int16_t s2 = 0;
  float f2 = 0;
  EXPECT_EQ(CAN_SDORead(5, 0x2100, 0, &b2, 1, &result), CAN_OK);
  EXPECT_EQ(CAN_SDORead(5, 0x2100, 1, &s2, 2, &result), CAN_OK);
  EXPECT_EQ(CAN_SDORead(5, 0x2100, 2, &f2, 4, &result), CAN_OK);
  EXPECT_EQ(result.outcome, kSdoConfirmed);
  EXPECT_EQ(b2, 0xC3);
  EXPECT_EQ(s2, -2);
  EXPECT_EQ(f2, 1234.5f);

  // A 1-byte object read into 4 bytes is zero-extended.
  std::uint32_t wide = 0xFFFFFFFF;
  EXPECT_EQ(CAN_SDORead(5, 0x2100, 0, &wide, 4, &result), CAN_OK);
  EXPECT_EQ(wide, 0xC3u);
  EXPECT_EQ(bridge_->counters().sdo_transfers, 7u);
}

TEST_F(CanAccessTest, NodeAbortsKeepTheirCodes) {
  SimNode& node = bridge_->add_node(9);
  node.add_entry(0x2200, 0, SimAccess::kReadOnly, 2);
  node.add_entry(0x2201, 0, SimAccess::kWriteOnly, 2);
  node.add_entry(0x2202, 0, SimAccess::kReadWrite, 4);
  node.add_entry(0x2203, 0, SimAccess::kReadWrite, 1);
  node.abort_on(0x2203, 0, kAbortDeviceState);

  struct Case {
    bool read;
    std::uint16_t index;
    std::uint8_t sub;
    std::uint32_t size;
    std::uint32_t code;
  };
  const Case cases[] = {
      {true, 0x3000, 0, 2, kAbortNoObject},        {true, 0x2200, 5, 2, kAbortNoSubindex},
      {true, 0x2201, 0, 2, kAbortReadWriteOnly},   {false, 0x2200, 0, 2, kAbortWriteReadOnly},
      {false, 0x2202, 0, 2, kAbortLengthMismatch}, {true, 0x2203, 0, 1, kAbortDeviceState},
  };
  for (const Case& c : cases) {
    std::uint32_t buffer = 0x5A5A5A5A;
    CanSdoResult result;
    std::int32_t status = c.read ? CAN_SDORead(9, c.index, c.sub, &buffer, c.size, &result)
                                 : CAN_SDOWrite(9, c.index, c.sub, &buffer, c.size, &result);
    EXPECT_EQ(status, CAN_OK);
    EXPECT_NE(result.outcome, kSdoConfirmed);
    EXPECT_EQ(result.abort_code, c.code) << std::hex << c.index << " sub " << int(c.sub);
    EXPECT_EQ(buffer, 0x5A5A5A5Au) << "a failed read must leave the buffer alone";
  }
}

TEST_F(CanAccessTest, SilentNodeTimesOutOnTheClockAndIsAborted) {
  bridge_->add_node(12).set_silent(true);
  std::uint8_t value = 0;
  CanSdoResult result;
  EXPECT_EQ(CAN_SDORead(12, 0x1000, 0, &value, 1, &result), CAN_TIMEOUT);
  EXPECT_EQ(result.outcome, kSdoNoAnswer);
  EXPECT_EQ(result.abort_code, kAbortTimeout);
  EXPECT_EQ(clock_.now_ms(), 300u);
  ASSERT_EQ(bridge_->sent().size(), 2u);
  EXPECT_EQ(bridge_->sent()[1].data[0], 0x80);
  // An absent node behaves the same.
  EXPECT_EQ(CAN_SDOWrite(13, 0x1000, 0, &value, 1, &result), CAN_TIMEOUT);
}

TEST_F(CanAccessTest, RefusedCallsPutNothingOnTheBus) {
  bridge_->add_node(5).add_entry(0x2100, 0, SimAccess::kReadWrite, 4);
  std::uint32_t value = 0;
  CanSdoResult result;
  EXPECT_EQ(CAN_SDORead(0, 0x2100, 0, &value, 4, &result), CAN_ERR);
  EXPECT_EQ(CAN_SDORead(128, 0x2100, 0, &value, 4, &result), CAN_ERR);
  EXPECT_EQ(CAN_SDORead(5, 0x2100, 0, &value, 3, &result), CAN_ERR);
  EXPECT_EQ(CAN_SDOWrite(5, 0x2100, 0, &value, 8, &result), CAN_ERR);
  EXPECT_EQ(CAN_SDORead(5, 0x2100, 0, nullptr, 4, &result), CAN_ERR);
  EXPECT_EQ(CAN_SDORead(5, 0x10000, 0, &value, 4, &result), CAN_ERR);
  EXPECT_EQ(CAN_SDORead(5, 0x2100, 0, &value, 4, nullptr), CAN_ERR);
  std::uint32_t found = 0;
  EXPECT_EQ(CAN_FindNode(0, &found), CAN_ERR);
  std::uint8_t state = 0;
  EXPECT_EQ(CAN_GetNodeState(200, &state), CAN_ERR);
  EXPECT_EQ(bridge_->counters().frames_sent, 0u);

  EXPECT_EQ(CAN_Disconnect(), CAN_OK);
  EXPECT_EQ(CAN_SDORead(5, 0x2100, 0, &value, 4, &result), CAN_NOT_CONNECTED);
  EXPECT_EQ(CAN_GetNodeState(5, &state), CAN_NOT_CONNECTED);
  EXPECT_EQ(bridge_->counters().frames_sent, 0u);
}

TEST_F(CanAccessTest, ReplyLongerThanTheBufferIsRefusedAndReleased) {
  bridge_->add_node(5).add_entry(0x2100, 0, SimAccess::kReadOnly, 4, 0x11223344);
  std::uint16_t small = 0x7777;
  CanSdoResult result;
  EXPECT_EQ(CAN_SDORead(5, 0x2100, 0, &small, 2, &result), CAN_BUF_TOO_SMALL);
  EXPECT_EQ(small, 0x7777);
  ASSERT_EQ(bridge_->sent().size(), 2u);
  EXPECT_EQ(bridge_->sent()[1].data[0], 0x80);
  EXPECT_EQ(can_status_to_error(CAN_BUF_TOO_SMALL), ERR_CAN_BUFFER_TOO_SMALL);
}

TEST_F(CanAccessTest, OddRepliesFromANode) {
  SimNode& node = bridge_->add_node(5);
  node.add_entry(0x2100, 0, SimAccess::kReadWrite, 2, 0xBEEF);
  std::uint32_t value = 0;
  CanSdoResult result;

  node.set_reply_style(SimReplyStyle::kShortFrame);
  EXPECT_EQ(CAN_SDORead(5, 0x2100, 0, &value, 4, &result), CAN_OK);
  EXPECT_EQ(result.outcome, kSdoConfirmed);
  EXPECT_EQ(value, 0xBEEFu);
  EXPECT_EQ(CAN_SDOWrite(5, 0x2100, 0, &value, 2, &result), CAN_OK);
  EXPECT_EQ(result.outcome, kSdoConfirmed);

  node.set_reply_style(SimReplyStyle::kNoSize);
  EXPECT_EQ(CAN_SDORead(5, 0x2100, 0, &value, 4, &result), CAN_OK);
  EXPECT_EQ(value, 0xBEEFu);

  const std::pair<SimReplyStyle, std::uint32_t> failing[] = {
      {SimReplyStyle::kWrongObject, kAbortParameterIncompatible},
      {SimReplyStyle::kSegmented, kAbortUnknownCommand},
      {SimReplyStyle::kUnknownCommand, kAbortUnknownCommand},
  };
  for (const auto& [style, code] : failing) {
    node.set_reply_style(style);
    bridge_->reset_counters();
    EXPECT_EQ(CAN_SDORead(5, 0x2100, 0, &value, 4, &result), CAN_OK);
    EXPECT_EQ(result.outcome, kSdoAborted);
    EXPECT_EQ(result.abort_code, code);
    EXPECT_EQ(bridge_->counters().frames_sent, 2u) << "the client must abort the transfer";
  }
}

TEST_F(CanAccessTest, InjectedBridgeFaults) {
  bridge_->add_node(5);
  std::uint32_t found = 0;
  bridge_->fail_next(CAN_TCP_ERR);
  EXPECT_EQ(CAN_FindNode(5, &found), CAN_TCP_ERR);
  EXPECT_EQ(CAN_FindNode(5, &found), CAN_OK) << "only the next call fails";
  EXPECT_EQ(found, kCanNodeFound);
  std::int32_t last = 0;
  EXPECT_EQ(CAN_GetLastBridgeError(&last), CAN_OK);
  EXPECT_EQ(last, CAN_TCP_ERR);

  int lost_events = 0;
  EXPECT_EQ(CAN_RegisterEvents(
                [](std::int32_t kind, std::uint8_t, std::uint32_t, void* context) {
                  if (kind == CAN_EVENT_CONNECTION_LOST) ++*static_cast<int*>(context);
                },
                &lost_events),
            CAN_OK);
  bridge_->lose_connection();
  std::uint8_t state = 0;
  EXPECT_EQ(CAN_GetNodeState(5, &state), CAN_TCP_ERR);
  EXPECT_EQ(CAN_GetNodeState(5, &state), CAN_NOT_CONNECTED);
  EXPECT_EQ(lost_events, 1);
  EXPECT_EQ(CAN_Connect(nullptr), CAN_OK);
  EXPECT_EQ(CAN_GetNodeState(5, &state), CAN_OK);
  EXPECT_EQ(state, CAN_STATE_OPERATIONAL);
  EXPECT_EQ(CAN_ResetBridge(), CAN_OK);
  EXPECT_EQ(CAN_GetLastBridgeError(&last), CAN_OK);
  EXPECT_EQ(last, 0);
}

TEST_F(CanAccessTest, NodeListsBridgeListsAndProcessData) {
  bridge_->add_node(64);
  bridge_->add_node(3);
  bridge_->add_node(70).set_silent(true);
  std::uint8_t ids[2] = {};
  std::uint32_t count = 0;
  EXPECT_EQ(CAN_EnumerateNodes(ids, 2, &count), CAN_OK);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(ids[0], 3);
  EXPECT_EQ(ids[1], 64);
  bridge_->add_node(100);
  EXPECT_EQ(CAN_EnumerateNodes(ids, 2, &count), CAN_BUF_TOO_SMALL);
  EXPECT_EQ(count, 3u);

  CanBridgeInfo bridges[1];
  EXPECT_EQ(CAN_EnumerateBridges(bridges, 1, &count), CAN_OK);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(CAN_Connect(&bridges[0]), CAN_OK);
  CanBridgeInfo other = bridges[0];
  other.mac[5] ^= 1;
  EXPECT_EQ(CAN_Connect(&other), CAN_TIMEOUT);

  CanBridgeConfig config;
  EXPECT_EQ(CAN_GetBridgeConfiguration(&config), CAN_OK);
  config.bitrate_kbit = 333;
  EXPECT_EQ(CAN_SetBridgeConfiguration(&config), CAN_ERR);
  config.bitrate_kbit = 1000;
  EXPECT_EQ(CAN_SetBridgeConfiguration(&config), CAN_OK);

  CanPdo pdo;
  EXPECT_EQ(CAN_GetPDO(&pdo), CAN_NO_PDO);
  EXPECT_EQ(CAN_RegisterPDO(0x1C0), CAN_OK);
  bridge_->inject_pdo(CanPdo{0x1C0, 2, {1, 2}});
  bridge_->inject_pdo(CanPdo{0x1C1, 1, {9}});  // not registered: dropped
  EXPECT_EQ(CAN_GetPDO(&pdo), CAN_OK);
  EXPECT_EQ(pdo.cob_id, 0x1C0u);
  EXPECT_EQ(pdo.data[1], 2);
  EXPECT_EQ(CAN_GetPDO(&pdo), CAN_NO_PDO);
  EXPECT_EQ(CAN_UnregisterPDOs(), CAN_OK);
}

TEST(CanDefaultBackend, IsASimulatedInstrumentWithEveryNode) {
  can_set_access(nullptr);
  std::uint8_t ids[127] = {};
  std::uint32_t count = 0;
  ASSERT_EQ(CAN_EnumerateNodes(ids, 127, &count), CAN_OK);
  ASSERT_EQ(count, std::size(kCanNodes));
  for (std::uint32_t i = 0; i < count; ++i) EXPECT_NE(can_node_info(ids[i]), nullptr);
  std::uint8_t state = 0;
  EXPECT_EQ(CAN_GetNodeState(CAN_NODE_ID_RAMP, &state), CAN_OK);
  EXPECT_EQ(state, CAN_STATE_OPERATIONAL);
  EXPECT_STREQ(can_node_name(CAN_NODE_ID_DD_RS), "CAN_NODE_ID_DD_RS");
  EXPECT_STREQ(can_node_name(1), "CAN_NODE_ID_UNKNOWN");
  can_set_access(nullptr);
}
