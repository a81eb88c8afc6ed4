// SDO wrappers, node search, node gates and the dual-motor family, run
// against the simulated bridge on a fake clock.
#include "can/can_sdo.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>
#include <string>
#include <utility>

#include "can/can_access.h"
#include "can/can_dmd.h"
#include "can/can_nodes.h"
#include "can/can_time.h"
#include "can/sim/sim_bridge.h"
#include "errors/errors.h"
#include "log/log.h"
#include "tests/can/can_fixture.h"

using CanSdoTest = CanFixture;

// --- SDO wrapper outcomes -----------------------------------------------------

TEST_F(CanSdoTest, SuccessfulTransfersReturnZeroAndLogNothing) {
  bridge_->add_node(20).add_entry(0x2100, 0, SimAccess::kReadWrite, 2);
  std::uint16_t value = 0x1234;
  EXPECT_EQ(can_sdo_write2(20, 0x2100, 0, &value, 2, 0, ERR_CAN_SDO_LED_ERROR, "tester"), 0);
  value = 0;
  EXPECT_EQ(can_sdo_read2(20, 0x2100, 0, &value, 2, 0, ERR_CAN_SDO_LED_ERROR, "tester"), 0);
  EXPECT_EQ(value, 0x1234);
  EXPECT_EQ(can_sdo_read2(20, 0x2100, 0, &value, 2, 2, ERR_CAN_SDO_LED_ERROR, "tester"), 0);
  EXPECT_EQ(log_, "");
  EXPECT_FALSE(activity_.is_set()) << "activity flags 0 and 2 leave the event alone";
}

TEST_F(CanSdoTest, LibraryFailuresReturnTheMappedCode) {
  bridge_->add_node(20).add_entry(0x2100, 0, SimAccess::kReadWrite, 2);
  std::uint16_t value = 0;
  bridge_->fail_next(CAN_TCP_ERR);
  EXPECT_EQ(can_sdo_read2(20, 0x2100, 0, &value, 2, 0, ERR_CAN_SDO_LED_ERROR, "led_on"),
            ERR_CAN_TCP_TRANSMISSION_ERROR);
  bridge_->fail_next(CAN_ERR_GENERAL);
  EXPECT_EQ(can_sdo_write2(20, 0x2100, 0, &value, 2, 0, ERR_CAN_SDO_LED_ERROR, "led_off"),
            ERR_UNKNOWN);
  // A silent node is a library timeout, not an SDO error.
  bridge_->node(20)->set_silent(true);
  EXPECT_EQ(can_sdo_read2(20, 0x2100, 0, &value, 2, 0, ERR_CAN_SDO_LED_ERROR, "led_on"),
            ERR_CAN_TIMEOUT);
  EXPECT_EQ(log_,
            "can_sdo_read2 called by led_on: err=ERR_CAN_TCP_TRANSMISSION_ERROR\n"
            "can_sdo_write2 called by led_off: err=ERR_UNKNOWN\n"
            "can_sdo_read2 called by led_on: err=ERR_CAN_TIMEOUT\n");
}

TEST_F(CanSdoTest, AbortReturnsTheCallersCodeAndLogsEightHexDigits) {
  SimNode& node = bridge_->add_node(20);
  node.add_entry(0x2100, 0, SimAccess::kReadOnly, 1);
  node.abort_on(0x2101, 0, 0x00000042);  // small code: leading zeros must show
  node.abort_on(0x2102, 0, 0x060A0023);  // hex letters must be upper-case
  std::uint8_t value = 0;
  EXPECT_EQ(can_sdo_write2(20, 0x2100, 0, &value, 1, 0, ERR_CAN_SDO_PZT_ERROR, "pzt_set"),
            ERR_CAN_SDO_PZT_ERROR);
  EXPECT_EQ(can_sdo_read2(20, 0x2101, 0, &value, 1, 0, ERR_CAN_SDO_PZT_ERROR, "pzt_get"),
            ERR_CAN_SDO_PZT_ERROR);
  EXPECT_EQ(log_,
            "can_sdo_write2 called by pzt_set: err=ERR_CAN_SDO_PZT_ERROR, result=2, "
            "abortcode=06010002\n"
            "can_sdo_read2 called by pzt_get: err=ERR_CAN_SDO_PZT_ERROR, result=2, "
            "abortcode=00000042\n");
  // Even a caller that passes 0 as its SDO error gets a failure.
  EXPECT_NE(can_sdo_read2(20, 0x2101, 0, &value, 1, 0, 0, "pzt_get"), 0);
  log_.clear();
  EXPECT_EQ(can_sdo_read2(20, 0x2102, 0, &value, 1, 0, 0, "pzt_get"), ERR_CAN_ERROR);
  EXPECT_EQ(log_,
            "can_sdo_read2 called by pzt_get: err=ERR_CAN_ERROR, result=2, abortcode=060A0023\n");
}

TEST_F(CanSdoTest, ActivityEventIsSetWhateverTheOutcome) {
  SimNode& node = bridge_->add_node(20);
  node.add_entry(0x2100, 0, SimAccess::kReadWrite, 1);
  node.abort_on(0x2101, 0, kAbortHardware);
  std::uint8_t value = 0;
  auto read = [&](std::uint16_t index) {
    activity_.reset();
    // The outcome differs per case and is pinned elsewhere; only the event counts here.
    (void)can_sdo_read2(20, index, 0, &value, 1, 1, ERR_CAN_SDO_LED_ERROR, "t");
    return activity_.is_set();
  };
  EXPECT_TRUE(read(0x2100));  // success
  EXPECT_TRUE(read(0x2101));  // abort
  bridge_->fail_next(CAN_TIMEOUT);
  EXPECT_TRUE(read(0x2100));  // library failure
  activity_.reset();
  EXPECT_EQ(can_sdo_read2(20, 0x2100, 0, &value, 3, 1, ERR_CAN_SDO_LED_ERROR, "t"),
            ERR_CAN_ERROR);  // refused size
  EXPECT_TRUE(activity_.is_set());
  activity_.reset();
  EXPECT_EQ(can_sdo_write2(20, 0x2100, 0, &value, 1, 1, ERR_CAN_SDO_LED_ERROR, "t"), 0);
  EXPECT_TRUE(activity_.is_set());

  // Without an event the flag is harmless.
  can_set_activity_event(nullptr);
  EXPECT_EQ(can_sdo_read2(20, 0x2100, 0, &value, 1, 1, ERR_CAN_SDO_LED_ERROR, "t"), 0);
}

TEST_F(CanSdoTest, BadArgumentsAreRefusedWithoutATransfer) {
  bridge_->add_node(20).add_entry(0x2100, 0, SimAccess::kReadWrite, 4);
  std::uint32_t value = 0;
  EXPECT_EQ(can_sdo_read2(0, 0x2100, 0, &value, 4, 0, ERR_CAN_SDO_LED_ERROR, "t"), ERR_CAN_ERROR);
  EXPECT_EQ(can_sdo_read2(128, 0x2100, 0, &value, 4, 0, ERR_CAN_SDO_LED_ERROR, "t"), ERR_CAN_ERROR);
  EXPECT_EQ(can_sdo_write2(20, 0x2100, 0, &value, 3, 0, ERR_CAN_SDO_LED_ERROR, "t"), ERR_CAN_ERROR);
  EXPECT_EQ(can_sdo_write2(20, 0x2100, 0, &value, 0, 0, ERR_CAN_SDO_LED_ERROR, "t"), ERR_CAN_ERROR);
  EXPECT_EQ(can_sdo_read2(20, 0x2100, 0, nullptr, 4, 0, ERR_CAN_SDO_LED_ERROR, "t"), ERR_CAN_ERROR);
  EXPECT_EQ(bridge_->counters().calls, 0u);
  EXPECT_EQ(log_.find("can_sdo_read2 called by t: err=ERR_CAN_ERROR\n"), 0u) << log_;
  // A buffer smaller than the object: the library's refusal.
  std::uint8_t small = 0;
  EXPECT_EQ(can_sdo_read2(20, 0x2100, 0, &small, 1, 0, ERR_CAN_SDO_LED_ERROR, "t"),
            ERR_CAN_BUFFER_TOO_SMALL);
}

// Answers what the simulator never does: a failed read whose result record
// claims a confirmed transfer, and a search status that is neither 0 nor 2.
class ScriptedBridge : public SimBridge {
 public:
  std::int32_t sdo_read(std::uint32_t, std::uint32_t, std::uint32_t, void*, std::uint32_t,
                        CanSdoResult* result) override {
    result->outcome = kSdoConfirmed;
    return CAN_TCP_ERR;
  }
  std::int32_t find_node(std::uint32_t, std::uint32_t* status) override {
    *status = 1;
    return CAN_OK;
  }
};

TEST_F(CanSdoTest, OnlyTheCallsStatusAndAFoundStatusOfTwoCount) {
  can_set_access(std::make_unique<ScriptedBridge>());
  std::uint8_t value = 0;
  EXPECT_EQ(can_sdo_read2(20, 0x2100, 0, &value, 1, 0, ERR_CAN_SDO_LED_ERROR, "t"),
            ERR_CAN_TCP_TRANSMISSION_ERROR);
  EXPECT_FALSE(find_node(CAN_NODE_ID_WAND, "CAN_NODE_ID_WAND"));
}

// --- Node search ------------------------------------------------------------

TEST_F(CanSdoTest, NodeOperationalOnTheFirstPoll) {
  bridge_->add_node(CAN_NODE_ID_LED);
  EXPECT_TRUE(wait_for_node_operational(CAN_NODE_ID_LED, "CAN_NODE_ID_LED"));
  EXPECT_EQ(bridge_->counters().state_polls, 1u);
  EXPECT_TRUE(clock_.sleeps().empty());
  EXPECT_EQ(idle_runs_, 0);
}

TEST_F(CanSdoTest, NodeOperationalOnTheTenthPoll) {
  bridge_->add_node(CAN_NODE_ID_LED).set_operational_after(1800, 0);
  EXPECT_TRUE(wait_for_node_operational(CAN_NODE_ID_LED, "CAN_NODE_ID_LED"));
  EXPECT_EQ(bridge_->counters().state_polls, 10u);
  EXPECT_EQ(clock_.now_ms(), 1800u);
  EXPECT_EQ(idle_runs_, 9);
  EXPECT_EQ(log_, "");
}

TEST_F(CanSdoTest, NodeNeverOperationalCostsTenPollsAndTwoSeconds) {
  bridge_->add_node(CAN_NODE_ID_LED).set_operational_after(-1, 0);
  EXPECT_FALSE(wait_for_node_operational(CAN_NODE_ID_LED, "CAN_NODE_ID_LED"));
  EXPECT_EQ(bridge_->counters().state_polls, 10u);
  EXPECT_EQ(clock_.sleeps(), std::vector<std::uint32_t>(10, 200));
  EXPECT_EQ(clock_.now_ms(), 2000u);
  EXPECT_EQ(idle_runs_, 10);
  EXPECT_EQ(idle_at_ms_.front(), 200u) << "the idle hook runs after the pause";
  EXPECT_EQ(log_,
            "wait_for_node_operational: Timeout waiting for node CAN_NODE_ID_LED operational: "
            "CAN_GetNodeState status = 1\n");
  for (CanNodeState state : {CAN_STATE_STOPPED, CAN_STATE_BOOTUP}) {
    bridge_->node(CAN_NODE_ID_LED)->set_state(state);
    EXPECT_FALSE(wait_for_node_operational(CAN_NODE_ID_LED, "CAN_NODE_ID_LED")) << int{state};
  }
}

TEST_F(CanSdoTest, FailingStateCallStopsTheWaitAtOnce) {
  bridge_->add_node(CAN_NODE_ID_LED).set_operational_after(-1, 0);
  bridge_->fail_next(CAN_OK);  // first poll goes through
  bridge_->fail_next(CAN_NOT_CONNECTED);
  EXPECT_FALSE(wait_for_node_operational(CAN_NODE_ID_LED, "CAN_NODE_ID_LED"));
  EXPECT_EQ(bridge_->counters().calls, 2u);
  EXPECT_EQ(clock_.sleeps().size(), 1u);
  EXPECT_EQ(log_,
            "wait_for_node_operational: Error waiting for node CAN_NODE_ID_LED operational: "
            "CAN_GetNodeState canErr = -2\n");
}

TEST_F(CanSdoTest, FindNodeFailures) {
  EXPECT_FALSE(find_node(CAN_NODE_ID_WAND, "CAN_NODE_ID_WAND"));  // absent
  bridge_->fail_next(CAN_TCP_ERR);
  EXPECT_FALSE(find_node(CAN_NODE_ID_WAND, "CAN_NODE_ID_WAND"));
  EXPECT_EQ(log_,
            "find_node: Error finding node CAN_NODE_ID_WAND: CAN_FindNode status = 0\n"
            "find_node: Error finding node CAN_NODE_ID_WAND: CAN_FindNode canErr = -4\n");
  bridge_->add_node(CAN_NODE_ID_WAND);
  EXPECT_TRUE(find_node(CAN_NODE_ID_WAND, "CAN_NODE_ID_WAND"));
}

TEST_F(CanSdoTest, OperationalNodeWithItsProductId) {
  SimNode& node = bridge_->add_node(CAN_NODE_ID_RAMP);
  node.set_identity(1, 0x00C0FFEE, 0x00030002, 7);
  node.set_operational_after(600, 0);
  std::uint32_t product = 0;
  EXPECT_TRUE(get_operational_node(instrument_, CAN_NODE_ID_RAMP, "CAN_NODE_ID_RAMP", &product));
  EXPECT_EQ(product, 0x00C0FFEEu);
  EXPECT_EQ(bridge_->counters().state_polls, 4u);
  EXPECT_EQ(idle_runs_, 3);
}

TEST_F(CanSdoTest, ProductIdFailureMakesTheNodeUnusable) {
  bridge_->add_node(CAN_NODE_ID_RAMP).abort_on(0x1018, 2, kAbortNoSubindex);
  std::uint32_t product = 0xAAAA;
  EXPECT_FALSE(get_operational_node(instrument_, CAN_NODE_ID_RAMP, "CAN_NODE_ID_RAMP", &product));
  EXPECT_EQ(product, 0xAAAAu);
  EXPECT_NE(log_.find("get_operational_node: Error getting node CAN_NODE_ID_RAMP product ID: "
                      "ERR_CAN_ERROR\n"),
            std::string::npos)
      << log_;

  // A node that never turns operational is not used.
  bridge_->add_node(CAN_NODE_ID_WAND).set_operational_after(-1, 0);
  EXPECT_FALSE(get_operational_node(instrument_, CAN_NODE_ID_WAND, "CAN_NODE_ID_WAND", nullptr));

  // A failed search stops before the state polls.
  bridge_->reset_counters();
  EXPECT_FALSE(get_operational_node(instrument_, CAN_NODE_ID_WAND2, "CAN_NODE_ID_WAND2", nullptr));
  EXPECT_EQ(bridge_->counters().state_polls, 0u);

  // Over another interface nothing is asked of the bus.
  bridge_->reset_counters();
  instrument_.interface_kind = InstrumentInterface::kSerial;
  EXPECT_FALSE(get_operational_node(instrument_, CAN_NODE_ID_RAMP, "CAN_NODE_ID_RAMP", &product));
  EXPECT_EQ(bridge_->counters().calls, 0u);
}

// --- Identity ---------------------------------------------------------------

TEST_F(CanSdoTest, VersionIsSplitIntoItsHalves) {
  SimNode& node = bridge_->add_node(CAN_NODE_ID_LED);
  node.set_identity(1, 2, 0x00030002, 4);
  std::uint16_t major = 0, minor = 0;
  EXPECT_EQ(can_read_version(instrument_, CAN_NODE_ID_LED, &major, &minor), 0);
  EXPECT_EQ(major, 3);
  EXPECT_EQ(minor, 2);
  node.set_identity(1, 2, 0xFFFF0001, 4);
  EXPECT_EQ(can_read_version(instrument_, CAN_NODE_ID_LED, &major, &minor), 0);
  EXPECT_EQ(major, 0xFFFF);
  EXPECT_EQ(minor, 1);

  bridge_->reset_counters();
  instrument_.interface_kind = InstrumentInterface::kNone;
  std::uint32_t product = 0;
  EXPECT_EQ(can_read_version(instrument_, CAN_NODE_ID_LED, &major, &minor), ERR_WRONG_INSTR_BOARD);
  EXPECT_EQ(can_read_productID(instrument_, CAN_NODE_ID_LED, &product), ERR_WRONG_INSTR_BOARD);
  EXPECT_EQ(bridge_->counters().calls, 0u);
}

TEST_F(CanSdoTest, AvailabilityFlagsFollowTheBridgesNodeList) {
  bridge_->add_node(CAN_NODE_ID_DD_RS);
  bridge_->add_node(CAN_NODE_ID_WAND2);
  bridge_->add_node(5);  // not an instrument node: ignored
  instrument_.led_available = 1;
  EXPECT_EQ(can_update_node_availability(instrument_, "power_on"), 0);
  EXPECT_EQ(instrument_.dd_rs_available, 1);
  EXPECT_EQ(instrument_.wand2_available, 1);
  EXPECT_EQ(instrument_.led_available, 0);

  bridge_->fail_next(CAN_NOT_CONNECTED);
  EXPECT_EQ(can_update_node_availability(instrument_, "power_on"), ERR_CAN_NOT_CONNECTED);
  EXPECT_EQ(instrument_.dd_rs_available, 1);
  EXPECT_EQ(log_, "power_on: CAN_EnumerateNodes canErr = -2\n");
}

// --- Gates and the dual-motor family ------------------------------------------

TEST_F(CanSdoTest, UnavailableNodesAreRefusedWithoutTouchingTheBus) {
  bridge_->add_node(CAN_NODE_ID_DD_RS).add_dual_motor_entries();
  bridge_->add_node(CAN_NODE_ID_FOCUS_NDW).add_dual_motor_entries();
  bridge_->add_node(CAN_NODE_ID_AUX_MOTOR).add_dual_motor_entries();
  std::uint8_t status = 0;
  EXPECT_EQ(can_read_rs_status(instrument_, &status), ERR_CAN_NODE_NOT_AVAIL);
  EXPECT_EQ(can_write_ndw_llcLevel(instrument_, 100, false), ERR_CAN_NODE_NOT_AVAIL);
  EXPECT_EQ(can_write_aux_motor1_mode(instrument_, 1), ERR_CAN_NODE_NOT_AVAIL);
  instrument_.dd_rs_available = 2;  // only 1 means available
  EXPECT_EQ(can_write_rs_motor1_targetVel(instrument_, 100.0f), ERR_CAN_NODE_NOT_AVAIL);
  EXPECT_EQ(bridge_->counters().calls, 0u);
  EXPECT_EQ(log_,
            "can_read_rs_status: CAN Ring-of-Fire and Diffuser Disk node is not available\n"
            "can_write_ndw_llcLevel: CAN Focus and ND Wheel node is not available\n"
            "can_write_aux_motor1_mode: CAN Auxiliary Motor node is not available\n"
            "can_write_rs_motor1_targetVel: CAN Ring-of-Fire and Diffuser Disk node is not "
            "available\n");
}

TEST_F(CanSdoTest, NodeAbortsReturnTheNodesOwnError) {
  dual_motor(CAN_NODE_ID_DD_RS).abort_on(0x2021, 0, kAbortHardware);
  dual_motor(CAN_NODE_ID_FOCUS_NDW).abort_on(0x2021, 0, kAbortHardware);
  dual_motor(CAN_NODE_ID_AUX_MOTOR).abort_on(0x2021, 0, kAbortHardware);
  std::uint8_t status = 0;
  EXPECT_EQ(can_read_rs_status(instrument_, &status), ERR_CAN_SDO_ROF_ERROR);
  EXPECT_EQ(can_read_ndw_status(instrument_, &status), ERR_CAN_SDO_NDW_ERROR);
  EXPECT_EQ(can_read_aux_status(instrument_, &status), ERR_CAN_SDO_AUX_MOTOR_ERROR);
  EXPECT_EQ(can_read_dmd_motor2_status(instrument_, CAN_NODE_ID_DD_RS, &status),
            ERR_CAN_SDO_DMD_ERROR);
  // Library failures pass through unchanged.
  bridge_->fail_next(CAN_TIMEOUT);
  EXPECT_EQ(can_read_ndw_position(instrument_, &status), ERR_CAN_TIMEOUT);
}

TEST_F(CanSdoTest, ParameterRulesRefuseBeforeTheBus) {
  SimNode& node = dual_motor(CAN_NODE_ID_DD_RS);
  bridge_->reset_counters();
  EXPECT_EQ(can_write_rs_motor1_mode(instrument_, 5), ERR_INVALID_PARAM);
  EXPECT_EQ(can_write_rs_motor1_mode(instrument_, -1), ERR_INVALID_PARAM);
  EXPECT_EQ(can_write_rs_motor1_targetVel(instrument_, 9.9f), ERR_INVALID_PARAM);
  EXPECT_EQ(can_write_rs_motor1_targetVel(instrument_, 10000.1f), ERR_INVALID_PARAM);
  EXPECT_EQ(can_write_rs_motor1_targetVel(instrument_, std::numeric_limits<float>::quiet_NaN()),
            ERR_INVALID_PARAM);
  EXPECT_EQ(bridge_->counters().calls, 0u);
  EXPECT_EQ(log_,
            "can_write_dmd_motor1_mode: invalid mode=5\n"
            "can_write_dmd_motor1_mode: invalid mode=-1\n");

  EXPECT_EQ(can_write_rs_motor1_mode(instrument_, 4), 0);
  EXPECT_EQ(node.value(0x2002, 0), 4u);
  EXPECT_EQ(can_write_rs_motor1_targetVel(instrument_, 10.0f), 0);
  EXPECT_EQ(can_write_rs_motor1_targetVel(instrument_, 10000.0f), 0);
  std::uint32_t bits = 0;
  float expected = 10000.0f;
  std::memcpy(&bits, &expected, 4);
  EXPECT_EQ(node.value(0x2004, 0), bits);
}

TEST_F(CanSdoTest, FamilyNeedsTheCanInterface) {
  dual_motor(CAN_NODE_ID_FOCUS_NDW);
  bridge_->reset_counters();
  instrument_.interface_kind = InstrumentInterface::kSerial;
  std::uint8_t value = 0;
  EXPECT_EQ(can_read_ndw_motor1_control(instrument_, &value), ERR_INVALID_PARAM);
  EXPECT_EQ(can_write_ndw_keypress_mode(instrument_, 1), ERR_INVALID_PARAM);
  EXPECT_EQ(can_read_ndw_position(instrument_, &value), ERR_INVALID_PARAM);
  EXPECT_EQ(can_read_ndw_status(instrument_, &value), ERR_INVALID_PARAM);
  EXPECT_EQ(can_write_dmd_motor2_current(instrument_, CAN_NODE_ID_FOCUS_NDW, 1), ERR_INVALID_PARAM);
  EXPECT_EQ(bridge_->counters().calls, 0u);
}

TEST_F(CanSdoTest, FamilyObjectsAndLevelInversion) {
  SimNode& node = dual_motor(CAN_NODE_ID_FOCUS_NDW);
  EXPECT_EQ(can_write_ndw_llcLevel(instrument_, 0x1234, true), 0);
  EXPECT_EQ(node.value(0x2028, 0), 0xEDCBu);
  std::uint16_t level = 0;
  EXPECT_EQ(can_read_ndw_llcLevel(instrument_, &level, true), 0);
  EXPECT_EQ(level, 0x1234);
  EXPECT_EQ(can_read_ndw_llcLevel(instrument_, &level, false), 0);
  EXPECT_EQ(level, 0xEDCB);
  EXPECT_EQ(can_write_ndw_llcLevel(instrument_, 0x00FF, false), 0);
  EXPECT_EQ(node.value(0x2028, 0), 0x00FFu);

  EXPECT_EQ(can_write_ndw_keypress_mode(instrument_, 3), 0);
  EXPECT_EQ(node.value(0x2044, 8), 3u);
  EXPECT_EQ(can_write_ndw_control(instrument_, 0x81), 0);
  EXPECT_EQ(node.value(0x2020, 0), 0x81u);
  EXPECT_EQ(can_write_ndw_motor1_control(instrument_, 0x07), 0);
  std::uint8_t byte = 0;
  EXPECT_EQ(can_read_ndw_motor1_control(instrument_, &byte), 0);
  EXPECT_EQ(byte, 0x07);
  EXPECT_EQ(can_read_ndw_keypress_mode(instrument_, &byte), 0);
  EXPECT_EQ(byte, 3);
  node.set_value(0x2047, 0, 2);
  EXPECT_EQ(can_read_ndw_position(instrument_, &byte), 0);
  EXPECT_EQ(byte, 2);
  node.set_value(0x2021, 0, 0x02);
  EXPECT_EQ(can_read_ndw_status(instrument_, &byte), 0);
  EXPECT_TRUE(can_dmd_motor2_moving(byte));
  EXPECT_FALSE(can_dmd_motor2_moving(0xFD));
}

TEST_F(CanSdoTest, CurrentWriteReadsTheMaximumFirst) {
  SimNode& node = dual_motor(CAN_NODE_ID_AUX_MOTOR);
  node.set_value(0x2036, 0, 800);
  std::uint16_t max = 0;
  EXPECT_EQ(can_read_aux_maxCurrent(instrument_, &max), 0);
  EXPECT_EQ(max, 800);

  bridge_->reset_counters();
  EXPECT_EQ(can_write_aux_current(instrument_, 800), 0);
  EXPECT_EQ(node.value(0x2034, 0), 800u);
  ASSERT_EQ(bridge_->sent().size(), 2u);
  EXPECT_EQ(bridge_->sent()[0].data[0], 0x40);  // the read of the maximum
  EXPECT_EQ(bridge_->sent()[0].data[1], 0x36);

  // Above the maximum: refused after the read, nothing written.
  bridge_->reset_counters();
  EXPECT_EQ(can_write_aux_current(instrument_, 801), ERR_INVALID_PARAM);
  EXPECT_EQ(bridge_->counters().sdo_transfers, 1u);
  EXPECT_EQ(node.value(0x2034, 0), 800u);

  // A failed read of the maximum is returned, nothing written.
  node.abort_on(0x2036, 0, kAbortHardware);
  bridge_->reset_counters();
  EXPECT_EQ(can_write_aux_current(instrument_, 100), ERR_CAN_SDO_AUX_MOTOR_ERROR);
  EXPECT_EQ(bridge_->counters().sdo_transfers, 1u);
  bridge_->fail_next(CAN_TCP_ERR);
  EXPECT_EQ(can_write_aux_current(instrument_, 100), ERR_CAN_TCP_TRANSMISSION_ERROR);
}

TEST_F(CanSdoTest, DefaultInstrumentAnswersTheFamily) {
  can_set_access(make_default_sim_bridge());
  instrument_.dd_rs_available = 1;
  std::uint16_t max = 0;
  EXPECT_EQ(can_read_rs_maxCurrent(instrument_, &max), 0);
  EXPECT_GT(max, 0);
  std::uint32_t product = 0;
  EXPECT_TRUE(get_operational_node(instrument_, CAN_NODE_ID_DD_RS, "CAN_NODE_ID_DD_RS", &product));
}

// --- The tables themselves ----------------------------------------------------

// The instrument's numbers, written out once more on purpose: the code, the
// simulator and the other tests are all built from the same .def rows, so a
// slip in a row fails only here.
TEST(CanTables, NodeIdsAndDualMotorObjectsAreTheInstruments) {
  const std::pair<std::string, int> nodes[] = {
      {"CAN_NODE_ID_LARGEAP", 52},    {"CAN_NODE_ID_LED", 61},       {"CAN_NODE_ID_TRIPLEPZT", 62},
      {"CAN_NODE_ID_BRUSHMOTOR", 63}, {"CAN_NODE_ID_FOCUS_NDW", 64}, {"CAN_NODE_ID_AUX_MOTOR", 66},
      {"CAN_NODE_ID_DD_RS", 68},      {"CAN_NODE_ID_DD_ZOOM", 70},   {"CAN_NODE_ID_WAND", 72},
      {"CAN_NODE_ID_WAND2", 73},      {"CAN_NODE_ID_RAMP", 127}};
  ASSERT_EQ(std::size(kCanNodes), std::size(nodes));
  for (std::size_t i = 0; i < std::size(nodes); ++i) {
    EXPECT_EQ(kCanNodes[i].name, nodes[i].first);
    EXPECT_EQ(kCanNodes[i].id, nodes[i].second) << nodes[i].first;
  }
  struct Object {
    const CanDmdObject& object;
    int index, subindex, size;
  };
  const Object objects[] = {
      {kDmdMotor1Control, 0x2000, 0, 1},   {kDmdMotor1Mode, 0x2002, 0, 1},
      {kDmdMotor1TargetVel, 0x2004, 0, 4}, {kDmdMotor2Control, 0x2020, 0, 1},
      {kDmdMotor2Status, 0x2021, 0, 1},    {kDmdMotor2LlcLevel, 0x2028, 0, 2},
      {kDmdMotor2Current, 0x2034, 0, 2},   {kDmdMotor2MaxCurrent, 0x2036, 0, 2},
      {kDmdMotor2Position, 0x2047, 0, 1},  {kDmdKeypressMode, 0x2044, 8, 1}};
  ASSERT_EQ(std::size(kDmdObjects), std::size(objects));
  for (const Object& o : objects) {
    EXPECT_EQ(o.object.index, o.index);
    EXPECT_EQ(o.object.subindex, o.subindex) << std::hex << o.index;
    EXPECT_EQ(o.object.size, o.size) << std::hex << o.index;
  }
}
