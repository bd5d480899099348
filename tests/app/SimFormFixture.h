// The window on the simulated instrument (the library the program loads), with the simulator's
// options set for the test and cleared after it.
#pragma once

#include <map>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "app/Form1.h"
#include "tests/reliability/Support.h"
#include "tests/support/FakeMessages.h"

namespace rv8::testing {

class FormOnSimulator : public ::testing::Test {
  protected:
    FakeMessages messages;
    std::unique_ptr<Rv8Library> driver;
    std::unique_ptr<Form1> form;

    void Start(std::map<std::string, std::string> options = {}) {
        SetSimOptions(std::move(options));
        driver = LoadSimulator();
        form = std::make_unique<Form1>(*driver, messages);
        ASSERT_TRUE(form->Form_Load());
    }
    void TearDown() override {
        if (form) {
            form->close();
            form->Form_Terminate();
        }
        form.reset();
        SetSimOptions({});
    }
    const kurvo::Readouts& single() {
        form->Command2->click();
        return form->Kurvo1->readouts();
    }
};

}  // namespace rv8::testing
