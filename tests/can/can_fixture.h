// The fixture of the CAN tests: a simulated bridge with no nodes installed as
// the process-wide backend, a fake CAN clock, the log captured, an idle hook
// that records when it runs, a bus-activity event and an instrument record
// reached over CAN.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "can/can_access.h"
#include "can/can_nodes.h"
#include "can/can_time.h"
#include "can/sim/sim_bridge.h"
#include "log/log.h"

class CanFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    can_set_clock(&clock_);
    auto bridge = std::make_unique<SimBridge>();
    bridge_ = bridge.get();
    can_set_access(std::move(bridge));
    u_set_log_sink(capture, &log_);
    can_set_idle_hook(record_idle, this);
    can_set_activity_event(&activity_);
    instrument_.interface_kind = InstrumentInterface::kCan;
  }
  void TearDown() override {
    can_set_activity_event(nullptr);
    can_set_idle_hook(nullptr, nullptr);
    u_set_log_sink(nullptr, nullptr);
    can_set_access(nullptr);
    can_set_clock(nullptr);
  }

  // A dual-motor node, present and marked available.
  SimNode& dual_motor(std::uint8_t id) {
    SimNode& node = bridge_->add_node(id);
    node.add_dual_motor_entries();
    *can_node_available_flag(instrument_, id) = 1;
    return node;
  }

  static void capture(const char* text, void* context) {
    *static_cast<std::string*>(context) += text;
  }
  static void record_idle(void* context) {
    auto* fixture = static_cast<CanFixture*>(context);
    ++fixture->idle_runs_;
    fixture->idle_at_ms_.push_back(can_clock().now_ms());
  }

  FakeCanClock clock_;
  SimBridge* bridge_ = nullptr;
  std::string log_;
  int idle_runs_ = 0;
  std::vector<std::uint64_t> idle_at_ms_;  // the clock at each run of the idle hook
  CanEvent activity_;
  CanInstrument instrument_;
};
