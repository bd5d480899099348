// The window's whole control inventory as it stands before start-up: every control's kind, parent,
// place and size in twips (15 to a pixel), caption or text, list items in order and initial state.
// One row per control; the table is checked both ways (every row is a control of the window and
// every control of the window has a row).
#include <optional>
#include <set>

#include "tests/app/FormFixture.h"

namespace rv8::testing {
namespace {

struct Place {
    int left, top, width, height;  // twips
};
struct Range {
    int min, max, value;
};

struct Control {
    const char* name;
    const char* kind;    // a class it is (QObject::inherits)
    const char* parent;  // object name of its parent widget
    Place at;
    const char* text = nullptr;  // caption, title or text; nullptr: it has none
    // Words for the states that differ from enabled, shown and unchecked: "disabled", "hidden",
    // "checked".
    const char* state = "";
    std::vector<const char*> items = {};  // list entries in order (lists start with no pick)
    std::optional<Range> bar = {};        // scroll bars: range and value
};
void PrintTo(const Control& c, std::ostream* os) {
    *os << c.name;
}

// Sizes that recur: the small step buttons, text boxes and drop-down lists.
constexpr int kStep = 255;
constexpr int kBoxH = 285;
constexpr int kListH = 315;
constexpr int kLabelH = 255;

// clang-format off
const Control kInventory[] = {
    {"MeasuerFrame", "QGroupBox", "Form1", {120, 120, 2535, 1815}, "Acquire"},
    {"Text2", "QLineEdit", "MeasuerFrame", {120, 1440, 2295, kBoxH}, "Log comment"},
    {"Command2", "QPushButton", "MeasuerFrame", {120, 840, 1095, 495}, "Single"},
    {"Command3", "QPushButton", "MeasuerFrame", {1320, 840, 1095, 495}, "Run/Stop"},
    {"MeasureModeCombo", "QComboBox", "MeasuerFrame", {840, 360, 1575, kListH}, nullptr, "", {"channel 1", "channel 2", "chop"}},
    {"Label22", "QLabel", "MeasuerFrame", {120, 360, 615, kLabelH}, "Mode :"},

    {"Ch1Frame", "QGroupBox", "Form1", {120, 2040, 2535, 1215}, "Channel 1"},
    {"SetSenseCh1TextBox", "QLineEdit", "Ch1Frame", {960, 240, 615, kBoxH}, ""},
    {"SetSenseCh1DownButton", "QPushButton", "Ch1Frame", {1560, 240, kStep, kStep}, "-"},
    {"SetSenseCh1UpButton", "QPushButton", "Ch1Frame", {1800, 240, kStep, kStep}, "+"},
    {"SetCoupCh1Combo", "QComboBox", "Ch1Frame", {960, 720, 1095, kListH}, nullptr, "", {"AC", "DC"}},
    {"Label13", "QLabel", "Ch1Frame", {120, 240, 855, kLabelH}, "Sensitivity"},
    {"Label15", "QLabel", "Ch1Frame", {120, 720, 855, kLabelH}, "Coupling"},

    {"Ch2Frame", "QGroupBox", "Form1", {120, 3360, 2535, 1215}, "Channel 2"},
    {"SetSenseCh2TextBox", "QLineEdit", "Ch2Frame", {960, 240, 615, kBoxH}, ""},
    {"SetSenseCh2DownButton", "QPushButton", "Ch2Frame", {1560, 240, kStep, kStep}, "-"},
    {"SetSenseCh2UpButton", "QPushButton", "Ch2Frame", {1800, 240, kStep, kStep}, "+"},
    {"SetCoupCh2Combo", "QComboBox", "Ch2Frame", {960, 720, 1095, kListH}, nullptr, "", {"AC", "DC"}},
    {"label17", "QLabel", "Ch2Frame", {120, 240, 855, kLabelH}, "Sensitivity"},
    {"Label19", "QLabel", "Ch2Frame", {120, 720, 855, kLabelH}, "Coupling"},

    {"HorizontalFrame", "QGroupBox", "Form1", {240, 4680, 2415, 3375}, "Horizontal"},
    {"Label11", "QLabel", "HorizontalFrame", {120, 240, 1455, kLabelH}, "Sample Frequency"},
    {"SetSampleFreqTextBox", "QLineEdit", "HorizontalFrame", {120, 480, 1335, kBoxH}, "1"},
    {"SetSampleFreqDownButton", "QPushButton", "HorizontalFrame", {1560, 480, kStep, kStep}, "-"},
    {"SetSampleFreqUpButton", "QPushButton", "HorizontalFrame", {1800, 480, kStep, kStep}, "+"},
    {"Label12", "QLabel", "HorizontalFrame", {120, 840, 1215, kLabelH}, "Record Lenght"},
    {"RecordlenthCombo", "QComboBox", "HorizontalFrame", {120, 1080, 1575, kListH}, nullptr, "", {"130000", "65536", "32768", "16384", "8192", "4096", "2048", "1024"}},
    {"Label18", "QLabel", "HorizontalFrame", {120, 1560, 1455, kLabelH}, "Position"},
    {"Label14", "QLabel", "HorizontalFrame", {120, 2160, 735, kLabelH}, "Scale"},
    {"GetSampleFreqTextBox", "QLineEdit", "HorizontalFrame", {3120, 240, 1215, kBoxH}, "", "hidden"},
    {"GetRecordLenthTextBox", "QLineEdit", "HorizontalFrame", {3120, 600, 1215, kBoxH}, "", "hidden"},
    {"GetPostSamplesText", "QLineEdit", "HorizontalFrame", {3120, 1080, 615, kBoxH}, ""},
    {"Label23", "QLabel", "HorizontalFrame", {3480, 1560, 1335, kLabelH}, "Post samples :"},
    {"HScroll2", "QScrollBar", "Form1", {240, 6480, 2295, 255}, nullptr, "", {}, Range{0, 16384, 8192}},
    {"HScroll3", "QScrollBar", "Form1", {240, 7080, 2295, 255}, nullptr, "", {}, Range{1, 2, 1}},

    {"TriggerFrame", "QGroupBox", "Form1", {2760, 6840, 4695, 1215}, "Trigger"},
    {"Label5", "QLabel", "TriggerFrame", {120, 360, 615, kLabelH}, "Source"},
    {"TrigSourceCombo", "QComboBox", "TriggerFrame", {840, 360, 1335, kListH}, nullptr, "", {"Channel 1", "Channel 2", "No Trig"}},
    {"Label6", "QLabel", "TriggerFrame", {120, 720, 615, kLabelH}, "Mode"},
    {"TrigModeCombo", "QComboBox", "TriggerFrame", {840, 720, 1335, kListH}, nullptr, "", {"Rising", "Falling"}},
    {"Label8", "QLabel", "TriggerFrame", {2280, 360, 855, kLabelH}, "Level Ch1"},
    {"TrigLevelCh1Text", "QLineEdit", "TriggerFrame", {3120, 360, 855, kBoxH}, "", "disabled"},
    {"TrigLevelCh1DownButton", "QPushButton", "TriggerFrame", {4080, 360, kStep, kStep}, "-"},
    {"TrigLevelCh1UpButton", "QPushButton", "TriggerFrame", {4320, 360, kStep, kStep}, "+"},
    {"Label9", "QLabel", "TriggerFrame", {2280, 720, 855, kLabelH}, "Level Ch2"},
    {"TrigLevelCh2Text", "QLineEdit", "TriggerFrame", {3120, 720, 855, kBoxH}, ""},
    {"TrigLevelCh2DownButton", "QPushButton", "TriggerFrame", {4080, 720, kStep, kStep}, "-"},
    {"TrigLevelCh2UpButton", "QPushButton", "TriggerFrame", {4320, 720, kStep, kStep}, "+"},
    {"Label7", "QLabel", "TriggerFrame", {5160, 360, 495, kLabelH}, "Hys"},
    {"TrigHysCh1Text", "QLineEdit", "TriggerFrame", {5640, 360, 855, kBoxH}, ""},
    {"TrigHysCh1DownButton", "QPushButton", "TriggerFrame", {6480, 360, kStep, kStep}, "-"},
    {"TrigHysCh1UpButton", "QPushButton", "TriggerFrame", {6720, 360, kStep, kStep}, "+"},
    {"Label16", "QLabel", "TriggerFrame", {5160, 720, 495, kLabelH}, "Hys"},
    {"TrigHysCh2Text", "QLineEdit", "TriggerFrame", {5640, 720, 855, kBoxH}, ""},
    {"TrigHysCh2DownButton", "QPushButton", "TriggerFrame", {6480, 720, kStep, kStep}, "-"},
    {"TrigHysCh2UpButton", "QPushButton", "TriggerFrame", {6720, 720, kStep, kStep}, "+"},
    {"Label10", "QLabel", "TriggerFrame", {240, 2040, 855, kLabelH}, "Timeout"},
    {"TrigTimeOutText", "QLineEdit", "TriggerFrame", {1080, 2040, 855, kBoxH}, "", "disabled"},
    {"TrigTimeoutDownButton", "QPushButton", "TriggerFrame", {1920, 2040, kStep, kStep}, "-"},
    {"TrigTimeoutUpButton", "QPushButton", "TriggerFrame", {2160, 2040, kStep, kStep}, "+"},

    {"Frame2", "QGroupBox", "Form1", {7560, 6840, 3735, 1215}, "Display"},
    {"Option1", "QRadioButton", "Frame2", {2880, 360, 615, 255}, "V-T", "checked"},
    {"Option2", "QRadioButton", "Frame2", {2880, 600, 615, 255}, "V-F"},
    {"Command1", "QPushButton", "Form1", {7800, 7080, 975, 375}, "Default!"},
    {"Command4", "QPushButton", "Form1", {9120, 7080, 1095, 615}, "Copy  to Clipboard"},
    {"Check2", "QCheckBox", "Form1", {7800, 7560, 1335, 195}, "Persistence"},
    {"HScroll1", "QScrollBar", "Form1", {7800, 7800, 1455, 135}, nullptr, "", {}, Range{0, 32, 30}},

    {"Frame1", "QGroupBox", "Form1", {12240, 6240, 2535, 1815}, "Hardware", "hidden"},
    {"CalDateBox", "QLineEdit", "Frame1", {960, 240, 1215, kBoxH}, "0"},
    {"SerialNumBox", "QLineEdit", "Frame1", {960, 600, 1215, kBoxH}, "0"},
    {"MaxSampleFreqBox", "QLineEdit", "Frame1", {960, 960, 1215, kBoxH}, "0"},
    {"maxRecLenBox", "QLineEdit", "Frame1", {960, 1320, 1215, kBoxH}, "0"},
    {"Label1", "QLabel", "Frame1", {120, 240, 855, kLabelH}, "Cal. Date:"},
    {"Label2", "QLabel", "Frame1", {120, 600, 855, kLabelH}, "Serial Nr."},
    {"Label3", "QLabel", "Frame1", {120, 960, 855, kLabelH}, "Max Freq:"},
    {"Label4", "QLabel", "Frame1", {120, 1320, 855, kLabelH}, "MaxReLen"},

    {"Kurvo1", "rv8::Kurvo", "Form1", {2760, 480, 7680, 6015}},
    {"Ymax1", "QLabel", "Form1", {10560, 480, 855, kLabelH}, "Channel 1"},
    {"Ymax2", "QLabel", "Form1", {10560, 720, 855, kLabelH}, "Channel 2"},
    {"Label20", "QLabel", "Form1", {10560, 3240, 855, kLabelH}, "Channel 1"},
    {"Label21", "QLabel", "Form1", {10560, 3480, 855, kLabelH}, "Channel 2"},
    {"Check3", "QCheckBox", "Form1", {11400, 3240, 255, 255}, "Check3", "checked"},
    {"Check4", "QCheckBox", "Form1", {11400, 3480, 255, 255}, "Check4"},
    {"Ymin1", "QLabel", "Form1", {10560, 6120, 855, kLabelH}, "Channel 1"},
    {"Ymin2", "QLabel", "Form1", {10560, 6360, 855, kLabelH}, "Channel 2"},
    {"MinFreq", "QLabel", "Form1", {2760, 6480, 255, kLabelH}, "0", "hidden"},
    {"MaxFreq", "QLabel", "Form1", {9240, 6480, 1095, kLabelH}, "0", "hidden"},
    {"Check1", "QCheckBox", "Form1", {2760, 120, 1935, 255}, "Log to Corvex file!"},
    {"Text1", "QLineEdit", "Form1", {4920, 120, 3255, kBoxH}, "c:\\Rv8Capture.cvx"},
    {"Label24", "QLabel", "Form1", {8280, 120, 1335, kLabelH}, "Capacity Used:"},
    {"eventcount", "QLabel", "Form1", {9840, 120, 975, kLabelH}, "0/8000"},
    {"Command9", "QPushButton", "Form1", {480, 600, 1695, 375}, "Init", "hidden"},
    {"Spektra1", "QWidget", "Form1", {10800, 2520, 375, 255}, nullptr, "hidden"},
    {"Spektra2", "QWidget", "Form1", {10800, 2520, 495, 255}, nullptr, "hidden"},
};
// clang-format on

bool Has(const char* state, const char* word) {
    return QString::fromLatin1(state).split(QLatin1Char(' ')).contains(QLatin1String(word));
}

std::optional<QString> TextOf(const QWidget& w) {
    if (auto* e = qobject_cast<const QLineEdit*>(&w)) return e->text();
    if (auto* l = qobject_cast<const QLabel*>(&w)) return l->text();
    if (auto* b = qobject_cast<const QAbstractButton*>(&w)) return b->text();
    if (auto* g = qobject_cast<const QGroupBox*>(&w)) return g->title();
    return std::nullopt;
}

class Inventory : public FormTest, public ::testing::WithParamInterface<Control> {};

TEST_P(Inventory, EveryControlAsListed) {
    const Control& c = GetParam();
    auto* w = form->findChild<QWidget*>(QString::fromLatin1(c.name));
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->inherits(c.kind)) << w->metaObject()->className();
    ASSERT_NE(w->parentWidget(), nullptr);
    EXPECT_EQ(w->parentWidget()->objectName().toStdString(), c.parent);

    for (int twips : {c.at.left, c.at.top, c.at.width, c.at.height})
        ASSERT_EQ(twips % 15, 0) << "the table holds whole pixels";
    EXPECT_EQ(w->geometry(),
              QRect(c.at.left / 15, c.at.top / 15, c.at.width / 15, c.at.height / 15));

    const std::optional<QString> text = TextOf(*w);
    if (c.text) {
        ASSERT_TRUE(text.has_value()) << "no text to compare";
        EXPECT_EQ(text->toStdString(), c.text);
    }

    auto* list = qobject_cast<QComboBox*>(w);
    ASSERT_EQ(list != nullptr, !c.items.empty()) << "lists and only lists have items";
    if (list) {
        QStringList expected;
        for (const char* item : c.items)
            expected << QString::fromLatin1(item);
        QStringList got;
        for (int i = 0; i < list->count(); ++i)
            got << list->itemText(i);
        EXPECT_EQ(got, expected);
        EXPECT_EQ(list->currentIndex(), -1);
        EXPECT_FALSE(list->isEditable());
    }

    auto* bar = qobject_cast<QScrollBar*>(w);
    ASSERT_EQ(bar != nullptr, c.bar.has_value()) << "bars and only bars have a range";
    if (bar) {
        EXPECT_EQ(bar->orientation(), Qt::Horizontal);
        EXPECT_EQ(bar->minimum(), c.bar->min);
        EXPECT_EQ(bar->maximum(), c.bar->max);
        EXPECT_EQ(bar->value(), c.bar->value);
        EXPECT_EQ(bar->singleStep(), 1);
        EXPECT_EQ(bar->pageStep(), 1);
    }

    EXPECT_EQ(w->isEnabled(), !Has(c.state, "disabled"));
    EXPECT_EQ(w->isHidden(), Has(c.state, "hidden"));
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        EXPECT_EQ(b->isChecked(), Has(c.state, "checked"));
    } else {
        EXPECT_FALSE(Has(c.state, "checked")) << "only buttons are checked";
    }
}

INSTANTIATE_TEST_SUITE_P(Form1, Inventory, ::testing::ValuesIn(kInventory),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FormTest, TheInventoryListsEveryControlOfTheWindow) {
    std::set<std::string> listed;
    for (const Control& c : kInventory)
        EXPECT_TRUE(listed.insert(c.name).second) << "listed twice: " << c.name;
    // The controls are the window's own children and those of its frames.
    std::set<std::string> present;
    std::vector<QWidget*> containers{form.get()};
    for (auto* frame : form->findChildren<QGroupBox*>(Qt::FindDirectChildrenOnly))
        containers.push_back(frame);
    for (QWidget* container : containers) {
        for (auto* w : container->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            EXPECT_FALSE(w->objectName().isEmpty())
                << "an unnamed " << w->metaObject()->className() << " in "
                << container->objectName().toStdString();
            present.insert(w->objectName().toStdString());
        }
    }
    EXPECT_EQ(present, listed);
}

TEST_F(FormTest, TheWindowAndItsTimerBeforeStartUp) {
    EXPECT_EQ(form->objectName(), "Form1");
    EXPECT_EQ(form->windowTitle(), "Corvex RV8 Scope/Recorder");
    EXPECT_EQ(form->size(), QSize(11760 / 15, 8145 / 15));
    EXPECT_EQ(form->minimumSize(), form->maximumSize());  // a fixed size
    EXPECT_FALSE(form->windowIcon().isNull());
    EXPECT_EQ(form->Timer1.objectName(), "Timer1");
    EXPECT_EQ(form->Timer1.interval(), 20);
    EXPECT_FALSE(form->Timer1.isActive());
    // The persistence depth runs from 32 at the left end to 0 at the right, settling on release.
    EXPECT_TRUE(form->HScroll1->invertedAppearance());
    EXPECT_TRUE(form->HScroll1->invertedControls());
    EXPECT_FALSE(form->HScroll1->hasTracking());
    EXPECT_EQ(form->MaxFreq->alignment(), Qt::AlignRight | Qt::AlignVCenter);
    // The range labels and the channel labels carry their trace's colour.
    for (QLabel* l : {form->Ymax1, form->Ymin1, form->Label20})
        EXPECT_EQ(l->palette().color(QPalette::WindowText), QColor(0, 0, 255))
            << l->objectName().toStdString();
    for (QLabel* l : {form->Ymax2, form->Ymin2, form->Label21})
        EXPECT_EQ(l->palette().color(QPalette::WindowText), QColor(192, 0, 0))
            << l->objectName().toStdString();
}

}  // namespace
}  // namespace rv8::testing
