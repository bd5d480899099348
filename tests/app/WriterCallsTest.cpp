// How often the window asks the recording writer to close its file. A close of a writer with no
// open file changes nothing that can be seen, so the calls are counted at the link: this program
// is linked with --wrap for WriteVelmarFileII::CloseFile (tests/app/CMakeLists.txt), which sends
// every call made from outside the writer's own code through the counter below. The writer's
// destructor closes its file itself; that call is the writer's own and is not counted.
#include <map>
#include <type_traits>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "tests/app/FormFixture.h"

// The wrapper below stands in for exactly this member function: a change of its signature must
// change the wrapper too.
static_assert(std::is_same_v<decltype(&rv8::WriteVelmarFileII::CloseFile),
                             bool (rv8::WriteVelmarFileII::*)()>);

namespace {
std::map<const rv8::WriteVelmarFileII*, int> closeCalls;
}

extern "C" {
bool __real__ZN3rv817WriteVelmarFileII9CloseFileEv(rv8::WriteVelmarFileII* self);
bool __wrap__ZN3rv817WriteVelmarFileII9CloseFileEv(rv8::WriteVelmarFileII* self) {
    ++closeCalls[self];
    return __real__ZN3rv817WriteVelmarFileII9CloseFileEv(self);
}
}

namespace rv8::testing {
namespace {

class WriterCalls : public FormTest {
  protected:
    QTemporaryDir dir;

    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        FormTest::SetUp();
        Start();
        closeCalls.clear();
    }
    int Closes() { return closeCalls[&form->writer()]; }
};

TEST_F(WriterCalls, TheCounterSeesTheWindowsCalls) {
    form->Text1->setText(dir.filePath("counted.cvx"));
    form->Check1->click();
    ASSERT_TRUE(form->writer().isOpen());
    EXPECT_EQ(Closes(), 0);
    form->Check1->click();
    EXPECT_EQ(Closes(), 1);
    EXPECT_FALSE(form->writer().isOpen());
}

TEST_F(WriterCalls, ARefusedNameSendsExactlyOneClose) {
    {
        QFile f(dir.filePath("taken.cvx"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    int closesWhileShown = -1;
    messages.whileShown = [&] { closesWhileShown = Closes(); };
    form->Text1->setText(dir.filePath("taken.cvx"));
    form->Check1->click();
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(closesWhileShown, 0);  // the box is cleared after the message
    EXPECT_FALSE(form->Check1->isChecked());
    EXPECT_EQ(Closes(), 1);
}

TEST_F(WriterCalls, ClosingWithNoRecordingEverStartedSendsExactlyOneClose) {
    form->close();
    EXPECT_EQ(Closes(), 1);
    form->Form_Unload();  // the program's end runs it once more
    form->Form_Terminate();
    EXPECT_EQ(Closes(), 1);
}

TEST_F(WriterCalls, ClosingDuringARecordingSendsExactlyOneClose) {
    form->Text1->setText(dir.filePath("open.cvx"));
    form->Check1->click();
    form->Command2->click();
    ASSERT_TRUE(form->writer().isOpen());
    form->close();
    form->Form_Unload();
    EXPECT_EQ(Closes(), 1);
    EXPECT_FALSE(form->writer().isOpen());
}

}  // namespace
}  // namespace rv8::testing
