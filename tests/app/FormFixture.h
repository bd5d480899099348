#pragma once

#include <gtest/gtest.h>

#include "app/Form1.h"
#include "tests/support/FakeInstrument.h"
#include "tests/support/FakeMessages.h"

namespace rv8::testing {

// A window on a fake instrument, not yet started.
class FormTest : public ::testing::Test {
  protected:
    FakeInstrument inst;
    FakeMessages messages;
    std::unique_ptr<Form1> form;

    void SetUp() override { form = std::make_unique<Form1>(inst, messages); }
    // Runs start-up and forgets its calls.
    void Start() {
        ASSERT_TRUE(form->Form_Load());
        inst.clearCalls();
    }
};

}  // namespace rv8::testing
