// The leftovers nothing in the system uses must still behave for any caller that links them.
#include <gtest/gtest.h>

#include <climits>

#include "lumolink.h"

TEST(Leftovers, LumolinkOpenIgnoresItsArgumentAndAnswers42) {
    for (int argument : {0, 1, -1, 12345})
        EXPECT_EQ(LumolinkOpen(argument), 42) << "argument " << argument;
}

TEST(Leftovers, NLumolinkStartsAtZero) {
    EXPECT_EQ(nLumolink, 0);
}

TEST(Leftovers, CLumolinkConstructsAndAssigns) {
    CLumolink a;
    CLumolink b;
    EXPECT_EQ(&(a = b), &a);
}

TEST(SerialLink, CloseWithoutOpenAndSendWithoutPortFailSafely) {
    EXPECT_EQ(Close(), 1);
    EXPECT_EQ(Close(), 1);
    EXPECT_EQ(sendChar('L'), 0);
    EXPECT_EQ(setStar(50), 1);
    EXPECT_EQ(setLevel(127), 1);
    EXPECT_EQ(setNewStar(-1), 1);
}

TEST(SerialLink, SetPlanesWithoutAPortReturnsOneWhateverTheInts) {
    EXPECT_EQ(setPlanes(0, 0, 0, 0, 0), 1);
    EXPECT_EQ(setPlanes(-1, INT_MIN, INT_MAX, 1 << 25, 0x1FFFFFF), 1);
}
