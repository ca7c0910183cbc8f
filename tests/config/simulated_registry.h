// Fixture for tests against the Wine registry: each test starts from an empty enumerator tree
// and empty device maps, answers the tool's message boxes and records what they said.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cardsim.h"
#include "data/results.h"
#include "text/bounded_text.h"
#include "guiauto.h"

class SimulatedRegistry : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(cardsim::RemoveAll(), ERROR_SUCCESS); }
    void TearDown() override { cardsim::RemoveAll(); }

    cardsim::Installation Install(const cardsim::Layout& layout = {})
    {
        cardsim::Installation installation = cardsim::BuildInstallation(layout);
        EXPECT_EQ(cardsim::Write(installation), ERROR_SUCCESS);
        return installation;
    }

    void Install(const cardsim::Installation& installation)
    {
        ASSERT_EQ(cardsim::Write(installation), ERROR_SUCCESS);
    }

    // Texts of the message boxes shown so far (a box is recorded before it is answered).
    std::vector<std::string> Boxes() { return boxes.Texts(); }

    guiauto::MessageBoxCatcher boxes{"ktcfg"};
};
