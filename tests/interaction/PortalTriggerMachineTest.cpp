// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "interaction/PortalTriggerMachine.h"

namespace kolvex {
namespace {

using Phase = PortalTriggerMachine::Phase;
using Action = PortalTriggerMachine::Action;

const char* name(Phase p) {
    switch (p) {
    case Phase::idle: return "idle";
    case Phase::watching: return "watching";
    case Phase::revealed: return "revealed";
    }
    return "?";
}

PortalTriggerMachine machineIn(Phase phase, std::optional<std::int64_t> session) {
    PortalTriggerMachine machine;
    machine.phase = phase;
    machine.currentSession = session;
    return machine;
}

TEST(PortalTriggerMachine, TransitionTable) {
    struct Row {
        Phase phase;
        std::optional<std::int64_t> session;
        PortalTriggerMachine::Input input;  // files, trigger, mouse, session
        Phase newPhase;
        std::optional<std::int64_t> newSession;
        Action action;
    };
    const Row rows[] = {
        // idle
        {Phase::idle, {}, {false, true, true, 7}, Phase::idle, {}, Action::none},
        {Phase::idle, {}, {true, true, false, 7}, Phase::idle, {}, Action::none},
        {Phase::idle, {}, {true, false, true, 7}, Phase::watching, 7, Action::none},
        {Phase::idle, {}, {true, true, true, 7}, Phase::revealed, 7, Action::reveal},
        // watching
        {Phase::watching, 7, {true, false, false, 7}, Phase::idle, {}, Action::none},
        {Phase::watching, 7, {false, true, true, 7}, Phase::idle, {}, Action::none},
        {Phase::watching, 7, {true, false, true, 7}, Phase::watching, 7, Action::none},
        {Phase::watching, 7, {true, true, true, 7}, Phase::revealed, 7, Action::reveal},
        // revealed
        {Phase::revealed, 7, {true, false, true, 7}, Phase::watching, 7, Action::dismiss},
        {Phase::revealed, 7, {false, false, true, 7}, Phase::watching, 7, Action::dismiss},
        {Phase::revealed, 7, {true, true, true, 7}, Phase::revealed, 7, Action::track},
        {Phase::revealed, 7, {true, true, false, 7}, Phase::idle, {}, Action::dismiss},
        {Phase::revealed, 7, {false, true, true, 7}, Phase::idle, {}, Action::dismiss},
        {Phase::revealed, 7, {false, false, false, 7}, Phase::idle, {}, Action::dismiss},
        // a new drag identity
        {Phase::revealed, 7, {true, true, true, 8}, Phase::idle, {}, Action::dismiss},
        {Phase::watching, 7, {true, true, true, 8}, Phase::revealed, 8, Action::reveal},
        {Phase::watching, 7, {true, false, true, 8}, Phase::watching, 8, Action::none},
        {Phase::watching, 7, {false, false, false, 8}, Phase::idle, {}, Action::none},
    };
    int line = 0;
    for (const Row& row : rows) {
        ++line;
        auto machine = machineIn(row.phase, row.session);
        EXPECT_EQ(machine.apply(row.input), row.action) << "row " << line << " from " << name(row.phase);
        EXPECT_EQ(machine.phase, row.newPhase) << "row " << line;
        EXPECT_EQ(machine.currentSession, row.newSession) << "row " << line;
    }
}

TEST(PortalTriggerMachine, NeverRevealsTwiceWithoutADismiss) {
    // Every sequence of up to five inputs over a small alphabet: between two reveals of one
    // session there is always a dismiss.
    std::vector<PortalTriggerMachine::Input> alphabet;
    for (int bits = 0; bits < 8; ++bits)
        for (std::int64_t session : {1, 2})
            alphabet.push_back({(bits & 1) != 0, (bits & 2) != 0, (bits & 4) != 0, session});
    const std::size_t n = alphabet.size();
    std::size_t total = 1;
    for (int i = 0; i < 5; ++i) total *= n;
    for (std::size_t code = 0; code < total; ++code) {
        PortalTriggerMachine machine;
        bool revealedWithoutDismiss = false;
        std::size_t c = code;
        for (int step = 0; step < 5; ++step, c /= n) {
            const auto action = machine.apply(alphabet[c % n]);
            if (action == Action::reveal) {
                ASSERT_FALSE(revealedWithoutDismiss) << "sequence " << code;
                revealedWithoutDismiss = true;
            } else if (action == Action::dismiss) {
                revealedWithoutDismiss = false;
            }
            ASSERT_EQ(machine.phase == Phase::idle, !machine.currentSession.has_value());
        }
    }
}

}  // namespace
}  // namespace kolvex
