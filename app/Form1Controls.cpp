#include "app/Form1Controls.h"

#include <cmath>

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionButton>
#include <QStylePainter>

#include "logging/Recorder.h"

namespace rv8 {

const QString kProgramTitle = QStringLiteral("Corvex RV8 Scope/Recorder");

namespace {

// Positions are given in twips, 15 to a pixel at 96 dpi; Qt scales pixels on high-DPI screens.
constexpr int kTwipsPerPixel = 15;
int Px(int twips) {
    return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel;
}

QColor FromBgr(int32_t bgr) {
    return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
}

template <typename W>
W* Make(QWidget* parent, const char* name, int left, int top, int width, int height) {
    auto* w = new W(parent);
    w->setObjectName(QString::fromLatin1(name));
    w->setGeometry(Px(left), Px(top), Px(width), Px(height));
    return w;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int left, int top,
                  int width = 1215, int height = 255) {
    auto* l = Make<QLabel>(parent, name, left, top, width, height);
    l->setText(text);
    return l;
}

QLabel* ColourLabel(QWidget* parent, const char* name, const QString& text, int32_t bgr, int left,
                    int top) {
    auto* l = MakeLabel(parent, name, text, left, top, 855, 255);
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, FromBgr(bgr));
    l->setPalette(p);
    return l;
}

// A push button whose caption wraps onto several lines when it is narrower than its text.
class WrappingButton : public QPushButton {
  public:
    using QPushButton::QPushButton;

  protected:
    void paintEvent(QPaintEvent*) override {
        QStylePainter p(this);
        QStyleOptionButton opt;
        initStyleOption(&opt);
        const QString caption = opt.text;
        opt.text.clear();
        p.drawControl(QStyle::CE_PushButton, opt);
        p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                 QPalette::ButtonText));
        p.drawText(rect().adjusted(2, 2, -2, -2), Qt::AlignCenter | Qt::TextWordWrap, caption);
    }
};

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption, int left,
                        int top, int width = 255, int height = 255) {
    QPushButton* b =
        width < 1200 && caption.size() > 8 ? new WrappingButton(parent) : new QPushButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(Px(left), Px(top), Px(width), Px(height));
    b->setText(caption);
    b->setAutoDefault(false);
    return b;
}

QLineEdit* MakeBox(QWidget* parent, const char* name, const QString& text, int left, int top,
                   int width, int height = 285) {
    auto* e = Make<QLineEdit>(parent, name, left, top, width, height);
    e->setText(text);
    return e;
}

QComboBox* MakeList(QWidget* parent, const char* name, const QStringList& items, int left, int top,
                    int width) {
    auto* c = Make<QComboBox>(parent, name, left, top, width, 315);
    c->setEditable(false);
    c->addItems(items);
    c->setCurrentIndex(-1);  // a drop-down list starts with nothing selected
    return c;
}

template <typename Bar = QScrollBar>
Bar* MakeBar(QWidget* parent, const char* name, int left, int top, int width, int height, int min,
             int max, int value) {
    auto* s = Make<Bar>(parent, name, left, top, width, height);
    s->setOrientation(Qt::Horizontal);
    s->setRange(min, max);
    s->setSingleStep(1);
    s->setPageStep(1);
    s->setValue(value);
    return s;
}

// A horizontal bar whose value runs from its maximum at the left end to its minimum at the right:
// shown and driven inverted. Qt inverts the keys and the wheel for such a bar, but its arrows and
// its track still step the value as on an upright bar, which moves the thumb away from the place
// clicked. Steps that a mouse press started are mirrored here, so the left arrow and a click left
// of the thumb move it left, towards the maximum, and the right ones towards the minimum.
class MaxAtLeftScrollBar : public QScrollBar {
  public:
    explicit MaxAtLeftScrollBar(QWidget* parent) : QScrollBar(parent) {
        setInvertedAppearance(true);
        setInvertedControls(true);
        // Runs after Qt has moved the slider position for an action and before the value follows
        // it: the place to turn the step round (QAbstractSlider::actionTriggered).
        connect(this, &QAbstractSlider::actionTriggered, this,
                [this](int action) { MirrorMouseStep(action); });
    }

  protected:
    void mousePressEvent(QMouseEvent* e) override {
        mouseStepping_ = true;
        QScrollBar::mousePressEvent(e);
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        QScrollBar::mouseReleaseEvent(e);
        mouseStepping_ = false;
    }

  private:
    void MirrorMouseStep(int action) {
        if (!mouseStepping_) return;  // keys and the wheel are already right
        switch (action) {
            case SliderSingleStepAdd:
                setSliderPosition(value() - singleStep());
                break;
            case SliderSingleStepSub:
                setSliderPosition(value() + singleStep());
                break;
            case SliderPageStepAdd:
                setSliderPosition(value() - pageStep());
                break;
            case SliderPageStepSub:
                setSliderPosition(value() + pageStep());
                break;
            case SliderToMinimum:
                setSliderPosition(maximum());
                break;
            case SliderToMaximum:
                setSliderPosition(minimum());
                break;
            default:
                break;  // a drag places the thumb where the pointer is, already right
        }
    }

    bool mouseStepping_ = false;
};

QGroupBox* MakeFrame(QWidget* parent, const char* name, const QString& caption, int left, int top,
                     int width, int height) {
    auto* g = Make<QGroupBox>(parent, name, left, top, width, height);
    g->setTitle(caption);
    return g;
}

QIcon MakeIcon() {
    // A small scope screen: dark face, graticule cross, a blue sine and a red square wave.
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(20, 28, 36));
    p.setPen(QPen(QColor(150, 160, 170), 1.5));
    p.drawRoundedRect(QRectF(1, 3, 30, 26), 4, 4);
    p.setPen(QPen(QColor(70, 90, 100), 1));
    p.drawLine(QPointF(3, 16), QPointF(29, 16));
    p.drawLine(QPointF(16, 5), QPointF(16, 27));
    QPainterPath sine;
    for (int x = 3; x <= 29; ++x) {
        const double y = 16 - 8 * std::sin((x - 3) / 26.0 * 2 * M_PI);
        if (x == 3)
            sine.moveTo(x, y);
        else
            sine.lineTo(x, y);
    }
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(80, 160, 255), 2));
    p.drawPath(sine);
    p.setPen(QPen(QColor(230, 60, 60), 1.5));
    p.drawPolyline(QPolygonF({QPointF(3, 22), QPointF(9, 22), QPointF(9, 12), QPointF(16, 12),
                              QPointF(16, 22), QPointF(23, 22), QPointF(23, 12), QPointF(29, 12)}));
    return QIcon(pm);
}

}  // namespace

void Form1Controls::setupControls(QWidget* form) {
    form->setObjectName(QStringLiteral("Form1"));
    form->setWindowTitle(kProgramTitle);
    form->setWindowIcon(MakeIcon());
    QFont f = form->font();
    f.setPixelSize(11);
    form->setFont(f);
    // Frames with their caption on the border line, as instrument panels draw them.
    form->setStyleSheet(QStringLiteral(
        "QWidget { font-size: 10px; }"
        "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 6px; }"
        "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
        " left: 6px; top: 0px; padding: 0 2px; }"));
    form->setFixedSize(Px(11760), Px(8145));

    QWidget* w = form;

    MeasuerFrame = MakeFrame(w, "MeasuerFrame", QStringLiteral("Acquire"), 120, 120, 2535, 1815);
    Text2 = MakeBox(MeasuerFrame, "Text2", QStringLiteral("Log comment"), 120, 1440, 2295);
    Command2 = MakeButton(MeasuerFrame, "Command2", QStringLiteral("Single"), 120, 840, 1095, 495);
    Command3 =
        MakeButton(MeasuerFrame, "Command3", QStringLiteral("Run/Stop"), 1320, 840, 1095, 495);
    MeasureModeCombo =
        MakeList(MeasuerFrame, "MeasureModeCombo",
                 {QStringLiteral("channel 1"), QStringLiteral("channel 2"), QStringLiteral("chop")},
                 840, 360, 1575);
    Label22 = MakeLabel(MeasuerFrame, "Label22", QStringLiteral("Mode :"), 120, 360, 615);

    const QStringList couplings{QStringLiteral("AC"), QStringLiteral("DC")};
    Ch1Frame = MakeFrame(w, "Ch1Frame", QStringLiteral("Channel 1"), 120, 2040, 2535, 1215);
    SetSenseCh1TextBox = MakeBox(Ch1Frame, "SetSenseCh1TextBox", QString(), 960, 240, 615);
    SetSenseCh1DownButton = MakeButton(Ch1Frame, "SetSenseCh1DownButton", "-", 1560, 240);
    SetSenseCh1UpButton = MakeButton(Ch1Frame, "SetSenseCh1UpButton", "+", 1800, 240);
    SetCoupCh1Combo = MakeList(Ch1Frame, "SetCoupCh1Combo", couplings, 960, 720, 1095);
    Label13 = MakeLabel(Ch1Frame, "Label13", QStringLiteral("Sensitivity"), 120, 240, 855);
    Label15 = MakeLabel(Ch1Frame, "Label15", QStringLiteral("Coupling"), 120, 720, 855);
    Ch2Frame = MakeFrame(w, "Ch2Frame", QStringLiteral("Channel 2"), 120, 3360, 2535, 1215);
    SetSenseCh2TextBox = MakeBox(Ch2Frame, "SetSenseCh2TextBox", QString(), 960, 240, 615);
    SetSenseCh2DownButton = MakeButton(Ch2Frame, "SetSenseCh2DownButton", "-", 1560, 240);
    SetSenseCh2UpButton = MakeButton(Ch2Frame, "SetSenseCh2UpButton", "+", 1800, 240);
    SetCoupCh2Combo = MakeList(Ch2Frame, "SetCoupCh2Combo", couplings, 960, 720, 1095);
    label17 = MakeLabel(Ch2Frame, "label17", QStringLiteral("Sensitivity"), 120, 240, 855);
    Label19 = MakeLabel(Ch2Frame, "Label19", QStringLiteral("Coupling"), 120, 720, 855);

    HorizontalFrame =
        MakeFrame(w, "HorizontalFrame", QStringLiteral("Horizontal"), 240, 4680, 2415, 3375);
    Label11 =
        MakeLabel(HorizontalFrame, "Label11", QStringLiteral("Sample Frequency"), 120, 240, 1455);
    SetSampleFreqTextBox =
        MakeBox(HorizontalFrame, "SetSampleFreqTextBox", QStringLiteral("1"), 120, 480, 1335);
    SetSampleFreqDownButton =
        MakeButton(HorizontalFrame, "SetSampleFreqDownButton", "-", 1560, 480);
    SetSampleFreqUpButton = MakeButton(HorizontalFrame, "SetSampleFreqUpButton", "+", 1800, 480);
    Label12 = MakeLabel(HorizontalFrame, "Label12", QStringLiteral("Record Lenght"), 120, 840);
    RecordlenthCombo = MakeList(
        HorizontalFrame, "RecordlenthCombo",
        {"130000", "65536", "32768", "16384", "8192", "4096", "2048", "1024"}, 120, 1080, 1575);
    Label18 = MakeLabel(HorizontalFrame, "Label18", QStringLiteral("Position"), 120, 1560, 1455);
    Label14 = MakeLabel(HorizontalFrame, "Label14", QStringLiteral("Scale"), 120, 2160, 735);
    // Read-back boxes that lie outside the frame: clipped, never seen.
    GetSampleFreqTextBox =
        MakeBox(HorizontalFrame, "GetSampleFreqTextBox", QString(), 3120, 240, 1215);
    GetSampleFreqTextBox->setVisible(false);
    GetRecordLenthTextBox =
        MakeBox(HorizontalFrame, "GetRecordLenthTextBox", QString(), 3120, 600, 1215);
    GetRecordLenthTextBox->setVisible(false);
    GetPostSamplesText = MakeBox(HorizontalFrame, "GetPostSamplesText", QString(), 3120, 1080, 615);
    Label23 =
        MakeLabel(HorizontalFrame, "Label23", QStringLiteral("Post samples :"), 3480, 1560, 1335);
    // Position and Scale lie over the frame, in front of it.
    HScroll2 = MakeBar(w, "HScroll2", 240, 6480, 2295, 255, 0, 16384, 8192);
    HScroll3 = MakeBar(w, "HScroll3", 240, 7080, 2295, 255, 1, 2, 1);

    TriggerFrame = MakeFrame(w, "TriggerFrame", QStringLiteral("Trigger"), 2760, 6840, 4695, 1215);
    QWidget* t = TriggerFrame;
    Label5 = MakeLabel(t, "Label5", QStringLiteral("Source"), 120, 360, 615);
    TrigSourceCombo = MakeList(
        t, "TrigSourceCombo",
        {QStringLiteral("Channel 1"), QStringLiteral("Channel 2"), QStringLiteral("No Trig")}, 840,
        360, 1335);
    Label6 = MakeLabel(t, "Label6", QStringLiteral("Mode"), 120, 720, 615);
    TrigModeCombo = MakeList(t, "TrigModeCombo",
                             {QStringLiteral("Rising"), QStringLiteral("Falling")}, 840, 720, 1335);
    Label8 = MakeLabel(t, "Label8", QStringLiteral("Level Ch1"), 2280, 360, 855);
    TrigLevelCh1Text = MakeBox(t, "TrigLevelCh1Text", QString(), 3120, 360, 855);
    TrigLevelCh1Text->setEnabled(false);
    TrigLevelCh1DownButton = MakeButton(t, "TrigLevelCh1DownButton", "-", 4080, 360);
    TrigLevelCh1UpButton = MakeButton(t, "TrigLevelCh1UpButton", "+", 4320, 360);
    Label9 = MakeLabel(t, "Label9", QStringLiteral("Level Ch2"), 2280, 720, 855);
    TrigLevelCh2Text = MakeBox(t, "TrigLevelCh2Text", QString(), 3120, 720, 855);
    TrigLevelCh2DownButton = MakeButton(t, "TrigLevelCh2DownButton", "-", 4080, 720);
    TrigLevelCh2UpButton = MakeButton(t, "TrigLevelCh2UpButton", "+", 4320, 720);
    // Hysteresis and time-out rows lie outside the frame: clipped, never seen.
    Label7 = MakeLabel(t, "Label7", QStringLiteral("Hys"), 5160, 360, 495);
    TrigHysCh1Text = MakeBox(t, "TrigHysCh1Text", QString(), 5640, 360, 855);
    TrigHysCh1DownButton = MakeButton(t, "TrigHysCh1DownButton", "-", 6480, 360);
    TrigHysCh1UpButton = MakeButton(t, "TrigHysCh1UpButton", "+", 6720, 360);
    Label16 = MakeLabel(t, "Label16", QStringLiteral("Hys"), 5160, 720, 495);
    TrigHysCh2Text = MakeBox(t, "TrigHysCh2Text", QString(), 5640, 720, 855);
    TrigHysCh2DownButton = MakeButton(t, "TrigHysCh2DownButton", "-", 6480, 720);
    TrigHysCh2UpButton = MakeButton(t, "TrigHysCh2UpButton", "+", 6720, 720);
    Label10 = MakeLabel(t, "Label10", QStringLiteral("Timeout"), 240, 2040, 855);
    TrigTimeOutText = MakeBox(t, "TrigTimeOutText", QString(), 1080, 2040, 855);
    TrigTimeOutText->setEnabled(false);
    TrigTimeoutDownButton = MakeButton(t, "TrigTimeoutDownButton", "-", 1920, 2040);
    TrigTimeoutUpButton = MakeButton(t, "TrigTimeoutUpButton", "+", 2160, 2040);

    Frame2 = MakeFrame(w, "Frame2", QStringLiteral("Display"), 7560, 6840, 3735, 1215);
    Option1 = Make<QRadioButton>(Frame2, "Option1", 2880, 360, 615, 255);
    Option1->setText(QStringLiteral("V-T"));
    Option1->setChecked(true);
    Option2 = Make<QRadioButton>(Frame2, "Option2", 2880, 600, 615, 255);
    Option2->setText(QStringLiteral("V-F"));
    Command1 = MakeButton(w, "Command1", QStringLiteral("Default!"), 7800, 7080, 975, 375);
    Command4 =
        MakeButton(w, "Command4", QStringLiteral("Copy  to Clipboard"), 9120, 7080, 1095, 615);
    Check2 = Make<QCheckBox>(w, "Check2", 7800, 7560, 1335, 195);
    Check2->setText(QStringLiteral("Persistence"));
    // Runs from 32 at the left end to 0 at the right: a 0..32 bar shown and driven inverted.
    HScroll1 = MakeBar<MaxAtLeftScrollBar>(w, "HScroll1", 7800, 7800, 1455, 135, 0, 32, 30);
    HScroll1->setTracking(false);  // valueChanged when the value settles, sliderMoved while dragged

    // "Hardware": invisible, and outside the client area.
    Frame1 = MakeFrame(w, "Frame1", QStringLiteral("Hardware"), 12240, 6240, 2535, 1815);
    Frame1->setVisible(false);
    CalDateBox = MakeBox(Frame1, "CalDateBox", QStringLiteral("0"), 960, 240, 1215);
    SerialNumBox = MakeBox(Frame1, "SerialNumBox", QStringLiteral("0"), 960, 600, 1215);
    MaxSampleFreqBox = MakeBox(Frame1, "MaxSampleFreqBox", QStringLiteral("0"), 960, 960, 1215);
    maxRecLenBox = MakeBox(Frame1, "maxRecLenBox", QStringLiteral("0"), 960, 1320, 1215);
    Label1 = MakeLabel(Frame1, "Label1", QStringLiteral("Cal. Date:"), 120, 240, 855);
    Label2 = MakeLabel(Frame1, "Label2", QStringLiteral("Serial Nr."), 120, 600, 855);
    Label3 = MakeLabel(Frame1, "Label3", QStringLiteral("Max Freq:"), 120, 960, 855);
    Label4 = MakeLabel(Frame1, "Label4", QStringLiteral("MaxReLen"), 120, 1320, 855);

    Kurvo1 = Make<Kurvo>(w, "Kurvo1", 2760, 480, 7680, 6015);
    Ymax1 = ColourLabel(w, "Ymax1", QStringLiteral("Channel 1"), kChannel1Colour, 10560, 480);
    Ymax2 = ColourLabel(w, "Ymax2", QStringLiteral("Channel 2"), kChannel2Colour, 10560, 720);
    Label20 = ColourLabel(w, "Label20", QStringLiteral("Channel 1"), kChannel1Colour, 10560, 3240);
    Label21 = ColourLabel(w, "Label21", QStringLiteral("Channel 2"), kChannel2Colour, 10560, 3480);
    Check3 = Make<QCheckBox>(w, "Check3", 11400, 3240, 255, 255);
    Check3->setText(QStringLiteral("Check3"));
    Check3->setChecked(true);
    Check4 = Make<QCheckBox>(w, "Check4", 11400, 3480, 255, 255);
    Check4->setText(QStringLiteral("Check4"));
    Ymin1 = ColourLabel(w, "Ymin1", QStringLiteral("Channel 1"), kChannel1Colour, 10560, 6120);
    Ymin2 = ColourLabel(w, "Ymin2", QStringLiteral("Channel 2"), kChannel2Colour, 10560, 6360);
    MinFreq = MakeLabel(w, "MinFreq", QStringLiteral("0"), 2760, 6480, 255);
    MinFreq->setVisible(false);
    MaxFreq = MakeLabel(w, "MaxFreq", QStringLiteral("0"), 9240, 6480, 1095);
    MaxFreq->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    MaxFreq->setVisible(false);
    Check1 = Make<QCheckBox>(w, "Check1", 2760, 120, 1935, 255);
    Check1->setText(QStringLiteral("Log to Corvex file!"));
    Text1 = MakeBox(w, "Text1", QStringLiteral("c:\\Rv8Capture.cvx"), 4920, 120, 3255);
    Label24 = MakeLabel(w, "Label24", QStringLiteral("Capacity Used:"), 8280, 120, 1335);
    eventcount = MakeLabel(w, "eventcount", Recorder::CapacityText(0), 9840, 120, 975);

    Command9 = MakeButton(w, "Command9", QStringLiteral("Init"), 480, 600, 1695, 375);
    Command9->setVisible(false);
    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer1.setInterval(20);
    Timer1.setTimerType(Qt::PreciseTimer);  // a coarse timer may fire a millisecond late
    Timer1.stop();
    // The spectrum components draw nothing of their own; these mark where they sit.
    Spektra1Placeholder = Make<QWidget>(w, "Spektra1", 10800, 2520, 375, 255);
    Spektra1Placeholder->setVisible(false);
    Spektra2Placeholder = Make<QWidget>(w, "Spektra2", 10800, 2520, 495, 255);
    Spektra2Placeholder->setVisible(false);

    // Controls in front of the frames they lie over.
    for (QWidget* front : std::initializer_list<QWidget*>{HScroll2, HScroll3, Command1, Command4,
                                                          Check2, HScroll1}) {
        front->raise();
    }
}

}  // namespace rv8
