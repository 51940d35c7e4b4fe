#include "FaultPlan.h"

#include <gtest/gtest.h>

using namespace folvane::sim;
using std::chrono::milliseconds;

TEST(FaultPlan, AppliesToTheNamedActionForTheGivenTimes) {
    FaultPlan plan;
    ASSERT_FALSE(plan.add({{"action", "update_template_data"}, {"kind", "refuse"}, {"times", 2}}));
    EXPECT_FALSE(plan.decide("list_all").outcome);
    EXPECT_EQ(plan.decide("update_template_data").outcome, FaultKind::Refuse);
    EXPECT_EQ(plan.decide("update_template_data").outcome, FaultKind::Refuse);
    EXPECT_FALSE(plan.decide("update_template_data").outcome);
}

TEST(FaultPlan, WithoutTimesAppliesEveryTime) {
    FaultPlan plan;
    ASSERT_FALSE(plan.add({{"action", "*"}, {"kind", "raw"}, {"body", "<x>"}}));
    for (const char* action : {"status", "login", "nonsense", "login"}) {
        const FaultDecision d = plan.decide(action);
        EXPECT_EQ(d.outcome, FaultKind::Raw);
        EXPECT_EQ(d.body, "<x>");
    }
}

TEST(FaultPlan, DelaysAddUpAndCombineWithOneOutcome) {
    FaultPlan plan;
    ASSERT_FALSE(plan.add({{"action", "*"}, {"kind", "delay"}, {"ms", 100}}));
    ASSERT_FALSE(plan.add({{"action", "login"}, {"kind", "refuse"}, {"message", "first"}, {"times", 1}}));
    ASSERT_FALSE(plan.add({{"action", "login"}, {"kind", "delay"}, {"ms", 50}, {"times", 1}}));
    ASSERT_FALSE(plan.add({{"action", "login"}, {"kind", "non_json"}, {"times", 1}}));

    FaultDecision d = plan.decide("login");
    EXPECT_EQ(d.delay, milliseconds(150));
    EXPECT_EQ(d.outcome, FaultKind::Refuse);
    EXPECT_EQ(d.message, "first");
    // The losing non_json fault was not used up.
    d = plan.decide("login");
    EXPECT_EQ(d.delay, milliseconds(100));
    EXPECT_EQ(d.outcome, FaultKind::NonJson);
    EXPECT_FALSE(plan.decide("login").outcome);
}

TEST(FaultPlan, RandomDelaysStayInRangeAndRepeatWithTheSeed) {
    const Json description = {
        {"action", "*"}, {"kind", "random_delay"}, {"min_ms", 10}, {"max_ms", 20}, {"seed", 7}};
    FaultPlan first;
    FaultPlan second;
    ASSERT_FALSE(first.add(description));
    ASSERT_FALSE(second.add(description));
    bool varies = false;
    milliseconds previous{-1};
    for (int i = 0; i < 50; ++i) {
        const milliseconds delay = first.decide("x").delay;
        EXPECT_GE(delay.count(), 10);
        EXPECT_LE(delay.count(), 20);
        EXPECT_EQ(second.decide("y").delay, delay);
        varies = varies || (previous.count() >= 0 && delay != previous);
        previous = delay;
    }
    EXPECT_TRUE(varies);
}

TEST(FaultPlan, RefusesUnusableFaults) {
    FaultPlan plan;
    const Json bad[] = {
        Json::array(),
        {{"kind", "drop"}},
        {{"action", "*"}, {"kind", "explode"}},
        {{"action", "*"}, {"kind", "delay"}},
        {{"action", "*"}, {"kind", "delay"}, {"ms", -1}},
        {{"action", "*"}, {"kind", "delay"}, {"ms", "300"}},
        {{"action", "*"}, {"kind", "random_delay"}, {"min_ms", 5}, {"max_ms", 1}},
        {{"action", "*"}, {"kind", "raw"}},
        {{"action", "*"}, {"kind", "drip"}},
        {{"action", "*"}, {"kind", "drip"}, {"ms", 1}, {"length", -1}},
        {{"action", "*"}, {"kind", "redirect"}, {"location", 7}},
        {{"action", "*"}, {"kind", "drop"}, {"times", 0}},
        {{"action", "*"}, {"kind", "drop"}, {"time", 1}},
    };
    for (const Json& description : bad) {
        EXPECT_TRUE(plan.add(description).has_value()) << description.dump();
    }
    EXPECT_FALSE(plan.decide("x").outcome);
}
