#include "viewer/ViewerWindow.h"

#include <QAction>
#include <QActionGroup>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QScrollBar>
#include <QSlider>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>

namespace rv8::viewer {

namespace {

constexpr double kKeyZoom = 2.0;  // + and - halve and double the frames shown

}  // namespace

ViewerWindow::ViewerWindow(QWidget* parent) : QMainWindow(parent) {
    source_ = new RecordSource(this);
    connect(source_, &RecordSource::changed, this, &ViewerWindow::sourceChanged);
    buildWidgets();
    view_ = new RecordView(*chart_);
    input_ = new ChartInput(*view_, cursors_, this);
    connect(input_, &ChartInput::timeChanged, this, &ViewerWindow::timeChanged);
    connect(input_, &ChartInput::rangesChanged, this, &ViewerWindow::refresh);
    connect(input_, &ChartInput::cursorsChanged, this, [this] {
        action(QStringLiteral("cursors"))->setChecked(cursors_.on());
        refresh();
    });
    buildActions();
    play_.setSingleShot(true);
    connect(&play_, &QTimer::timeout, this, &ViewerWindow::playNext);
    followLater_.setSingleShot(true);
    connect(&followLater_, &QTimer::timeout, this, &ViewerWindow::sourceChanged);
    setAcceptDrops(true);
    setWindowTitle(QStringLiteral("RV8 Viewer"));
    resize(1180, 760);
    updateBanner();
    updateInfo();
    updateStatus();
    chart_->setFocus();
}

ViewerWindow::~ViewerWindow() {
    delete input_;  // first: the chart's events must not reach it once the view is gone
    delete view_;
}

void ViewerWindow::buildWidgets() {
    auto* central = new QWidget(this);
    auto* outer = new QVBoxLayout(central);
    outer->setContentsMargins(6, 6, 6, 6);
    banner_ = new QLabel(central);
    banner_->setObjectName(QStringLiteral("banner"));
    banner_->setWordWrap(true);
    banner_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    banner_->hide();
    outer->addWidget(banner_);

    auto* row = new QHBoxLayout();
    auto* left = new QVBoxLayout();
    chart_ = new Kurvo(central);
    chart_->setObjectName(QStringLiteral("chart"));
    chart_->setMinimumSize(400, 300);
    chart_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    left->addWidget(chart_, 1);
    timeBar_ = new QScrollBar(Qt::Horizontal, central);
    timeBar_->setObjectName(QStringLiteral("timeBar"));
    timeBar_->setFocusPolicy(Qt::NoFocus);
    timeBar_->setToolTip(QStringLiteral("The part of the record shown (wheel on the chart: zoom)"));
    connect(timeBar_, &QScrollBar::valueChanged, this, [this](int value) {
        if (updatingBars_ || !view_->hasRecord()) return;
        const TimeWindow w = view_->facts().window;
        view_->axis().show(static_cast<double>(value), w.count, view_->facts().frames);
        timeChanged();
    });
    left->addWidget(timeBar_);
    auto* records = new QGridLayout();
    slider_ = new QSlider(Qt::Horizontal, central);
    slider_->setObjectName(QStringLiteral("recordSlider"));
    slider_->setFocusPolicy(Qt::NoFocus);
    slider_->setRange(0, 0);
    connect(slider_, &QSlider::valueChanged, this, &ViewerWindow::sliderMoved);
    recordLabel_ = new QLabel(central);
    recordLabel_->setMinimumWidth(130);
    marks_ = new RecordMarks(central);
    marks_->setObjectName(QStringLiteral("recordMarks"));
    connect(marks_, &RecordMarks::clicked, this, &ViewerWindow::goTo);
    auto* sliderColumn = new QVBoxLayout();
    sliderColumn->setSpacing(0);
    sliderColumn->addWidget(slider_);
    sliderColumn->addWidget(marks_);
    trend_ = new TrendStrip(central);
    trend_->setObjectName(QStringLiteral("trendStrip"));
    trend_->setToolTip(QStringLiteral("A measurement of every record: click to go to a record"));
    connect(trend_, &TrendStrip::clicked, this, &ViewerWindow::goTo);
    trendColumn_ = new QComboBox(central);
    trendColumn_->setObjectName(QStringLiteral("trendColumn"));
    trendColumn_->setFocusPolicy(Qt::NoFocus);
    connect(trendColumn_, &QComboBox::currentIndexChanged, this, &ViewerWindow::showTrendColumn);
    trend_->hide();
    trendColumn_->hide();
    records->addWidget(new QLabel(QStringLiteral("Records"), central), 0, 0);
    records->addLayout(sliderColumn, 0, 1);
    records->addWidget(recordLabel_, 0, 2);
    records->addWidget(trendColumn_, 1, 0, Qt::AlignTop);
    records->addWidget(trend_, 1, 1);
    records->setColumnStretch(1, 1);
    left->addLayout(records);
    row->addLayout(left, 1);

    auto* panel = new QWidget(central);
    panel->setFixedWidth(270);
    auto* info = new QVBoxLayout(panel);
    info->setContentsMargins(8, 0, 0, 0);
    title_ = new QLabel(panel);
    title_->setObjectName(QStringLiteral("recordTitle"));
    QFont big = title_->font();
    big.setPointSizeF(big.pointSizeF() * 1.3);
    big.setBold(true);
    title_->setFont(big);
    time_ = new QLabel(panel);
    time_->setObjectName(QStringLiteral("recordTime"));
    // The details: plain labels in two columns (a rich-text table costs a layout of its own
    // at every record, which following a recording would pay 50 times a second).
    details_ = new QWidget(panel);
    details_->setObjectName(QStringLiteral("recordDetails"));
    detailRows_ = new QGridLayout(details_);
    detailRows_->setContentsMargins(0, 4, 0, 4);
    detailRows_->setHorizontalSpacing(8);
    detailRows_->setVerticalSpacing(1);
    detailRows_->setColumnStretch(1, 1);
    progress_ = new QLabel(panel);
    progress_->setWordWrap(true);
    progress_->setStyleSheet(QStringLiteral("color: #666"));
    hint_ = new QLabel(panel);
    hint_->setWordWrap(true);
    for (QWidget* w : std::initializer_list<QWidget*>{title_, time_, details_, hint_, progress_})
        info->addWidget(w);
    info->addStretch(1);
    row->addWidget(panel);
    outer->addLayout(row, 1);
    setCentralWidget(central);

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("status"));
    statusBar()->addWidget(status_, 1);
}

QAction* ViewerWindow::addAction(QMenu* menu, const QString& name, const QString& text,
                                 const QKeySequence& key, void (ViewerWindow::*slot)()) {
    auto* a = new QAction(text, this);
    a->setObjectName(name);
    if (!key.isEmpty()) a->setShortcut(key);
    connect(a, &QAction::triggered, this, slot);
    menu->addAction(a);
    QWidget::addAction(a);  // its key works wherever the focus is in the window
    return a;
}

void ViewerWindow::buildActions() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    addAction(file, QStringLiteral("open"), QStringLiteral("&Open..."), QKeySequence::Open,
              &ViewerWindow::openDialog);
    addAction(file, QStringLiteral("export"), QStringLiteral("&Export..."),
              QKeySequence(QStringLiteral("Ctrl+E")), &ViewerWindow::exportDialog);
    addAction(file, QStringLiteral("save"), QStringLiteral("&Save chart as PNG or SVG..."),
              QKeySequence::Save, &ViewerWindow::saveDialog);
    addAction(file, QStringLiteral("copy"), QStringLiteral("&Copy chart"), QKeySequence::Copy,
              &ViewerWindow::copyChart);
    file->addSeparator();
    addAction(file, QStringLiteral("quit"), QStringLiteral("&Quit"), QKeySequence::Quit,
              &ViewerWindow::quit);

    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    const auto checkable = [this](const QString& name, bool on) {
        QAction* a = action(name);
        a->setCheckable(true);
        a->setChecked(on);
        return a;
    };
    addAction(view, QStringLiteral("spectrum"), QStringLiteral("S&pectrum (V-F)"),
              QKeySequence(QStringLiteral("V")), &ViewerWindow::toggleSpectrum);
    checkable(QStringLiteral("spectrum"), false);
    addAction(view, QStringLiteral("channel1"), QStringLiteral("Channel &1"),
              QKeySequence(QStringLiteral("1")), &ViewerWindow::toggleChannel1);
    checkable(QStringLiteral("channel1"), true);
    addAction(view, QStringLiteral("channel2"), QStringLiteral("Channel &2"),
              QKeySequence(QStringLiteral("2")), &ViewerWindow::toggleChannel2);
    checkable(QStringLiteral("channel2"), true);
    view->addSeparator();
    addAction(view, QStringLiteral("fit"), QStringLiteral("&Fit the whole record"),
              QKeySequence(QStringLiteral("F")), &ViewerWindow::fit);
    addAction(view, QStringLiteral("zoomIn"), QStringLiteral("Zoom &in"),
              QKeySequence(QStringLiteral("+")), &ViewerWindow::zoomIn)
        ->setShortcuts({QKeySequence(QStringLiteral("+")), QKeySequence(QStringLiteral("="))});
    addAction(view, QStringLiteral("zoomOut"), QStringLiteral("Zoom &out"),
              QKeySequence(QStringLiteral("-")), &ViewerWindow::zoomOut);
    addAction(view, QStringLiteral("default"), QStringLiteral("&Default vertical ranges"),
              QKeySequence(QStringLiteral("D")), &ViewerWindow::defaultRanges);
    QMenu* vertical = view->addMenu(QStringLiteral("&Vertical wheel and drag act on"));
    auto* group = new QActionGroup(this);
    const QString names[] = {QStringLiteral("Channel 1"), QStringLiteral("Channel 2"),
                             QStringLiteral("Both channels")};
    for (int i : {2, 0, 1}) {
        QAction* a = vertical->addAction(names[i]);
        a->setObjectName(QStringLiteral("vertical%1").arg(i));
        a->setCheckable(true);
        a->setChecked(i == 2);
        group->addAction(a);
        connect(a, &QAction::triggered, this, [this, i] { input_->setVerticalChannels(i); });
    }
    view->addSeparator();
    addAction(view, QStringLiteral("measureWindow"),
              QStringLiteral("&Measure the visible window (not the whole record)"),
              QKeySequence(QStringLiteral("M")), &ViewerWindow::toggleMeasureWindow);
    checkable(QStringLiteral("measureWindow"), false);
    addAction(view, QStringLiteral("trend"),
              QStringLiteral("&Trend of a measurement over the records"),
              QKeySequence(QStringLiteral("T")), &ViewerWindow::toggleTrend);
    checkable(QStringLiteral("trend"), false);
    addAction(view, QStringLiteral("cursors"), QStringLiteral("&Cursors"),
              QKeySequence(QStringLiteral("C")), &ViewerWindow::toggleCursors);
    checkable(QStringLiteral("cursors"), false);
    addAction(view, QStringLiteral("clearCursors"), QStringLiteral("C&lear the cursors"),
              QKeySequence(Qt::Key_Escape), &ViewerWindow::clearCursors);

    QMenu* go = menuBar()->addMenu(QStringLiteral("&Go"));
    addAction(go, QStringLiteral("previous"), QStringLiteral("&Previous record"),
              QKeySequence(Qt::Key_Left), &ViewerWindow::previous);
    addAction(go, QStringLiteral("next"), QStringLiteral("&Next record"),
              QKeySequence(Qt::Key_Right), &ViewerWindow::next);
    addAction(go, QStringLiteral("back10"), QStringLiteral("&Back 10 records"),
              QKeySequence(Qt::Key_PageUp), &ViewerWindow::back10);
    addAction(go, QStringLiteral("forward10"), QStringLiteral("&Forward 10 records"),
              QKeySequence(Qt::Key_PageDown), &ViewerWindow::forward10);
    addAction(go, QStringLiteral("first"), QStringLiteral("F&irst record"),
              QKeySequence(Qt::Key_Home), &ViewerWindow::first);
    addAction(go, QStringLiteral("last"), QStringLiteral("&Last record"), QKeySequence(Qt::Key_End),
              &ViewerWindow::last);
    addAction(go, QStringLiteral("goTo"), QStringLiteral("&Go to record..."),
              QKeySequence(QStringLiteral("Ctrl+G")), &ViewerWindow::goToDialog);
    addAction(go, QStringLiteral("find"), QStringLiteral("Fin&d records..."), QKeySequence::Find,
              &ViewerWindow::findDialog);
    addAction(go, QStringLiteral("nextMark"), QStringLiteral("Next found recor&d"),
              QKeySequence(QStringLiteral("N")), &ViewerWindow::nextMark);
    addAction(go, QStringLiteral("previousMark"), QStringLiteral("Previous found record"),
              QKeySequence(QStringLiteral("Shift+N")), &ViewerWindow::previousMark);
    go->addSeparator();
    addAction(go, QStringLiteral("play"), QStringLiteral("Play / p&ause"),
              QKeySequence(Qt::Key_Space), &ViewerWindow::togglePlay);
    checkable(QStringLiteral("play"), false);
    QAction* fast = go->addAction(QStringLiteral("Play as fast as the records &render"));
    fast->setObjectName(QStringLiteral("fastPlay"));
    fast->setCheckable(true);
    addAction(go, QStringLiteral("follow"), QStringLiteral("F&ollow the newest record"),
              QKeySequence(QStringLiteral("L")), &ViewerWindow::toggleFollow);
    checkable(QStringLiteral("follow"), false);

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    addAction(help, QStringLiteral("help"), QStringLiteral("&Keys and mouse"),
              QKeySequence::HelpContents, &ViewerWindow::showHelp);

    QToolBar* bar = addToolBar(QStringLiteral("Viewer"));
    bar->setObjectName(QStringLiteral("toolbar"));
    bar->setMovable(false);
    bar->setFocusPolicy(Qt::NoFocus);
    for (const char* name :
         {"open", "export", "", "first", "previous", "play", "next", "last", "goTo", "follow", "",
          "spectrum", "channel1", "channel2", "fit", "default", "measureWindow", "cursors"}) {
        if (*name == '\0') {
            bar->addSeparator();
            continue;
        }
        QAction* a = action(QString::fromLatin1(name));
        bar->addAction(a);
    }
    action(QStringLiteral("measureWindow"))->setIconText(QStringLiteral("Measure window"));
    action(QStringLiteral("spectrum"))->setIconText(QStringLiteral("V-F"));
    action(QStringLiteral("fit"))->setIconText(QStringLiteral("Fit"));
    action(QStringLiteral("default"))->setIconText(QStringLiteral("Default"));
    action(QStringLiteral("goTo"))->setIconText(QStringLiteral("Go to"));
    action(QStringLiteral("follow"))->setIconText(QStringLiteral("Follow"));
    action(QStringLiteral("play"))->setIconText(QStringLiteral("Play"));
    action(QStringLiteral("first"))->setIconText(QStringLiteral("|<"));
    action(QStringLiteral("previous"))->setIconText(QStringLiteral("<"));
    action(QStringLiteral("next"))->setIconText(QStringLiteral(">"));
    action(QStringLiteral("last"))->setIconText(QStringLiteral(">|"));
    action(QStringLiteral("channel1"))->setIconText(QStringLiteral("CH1"));
    action(QStringLiteral("channel2"))->setIconText(QStringLiteral("CH2"));
    action(QStringLiteral("open"))->setIconText(QStringLiteral("Open"));
    action(QStringLiteral("export"))->setIconText(QStringLiteral("Export"));
    action(QStringLiteral("cursors"))->setIconText(QStringLiteral("Cursors"));
}

QAction* ViewerWindow::action(const QString& name) const {
    return findChild<QAction*>(name);
}

bool ViewerWindow::openFile(const QString& path) {
    QString error;
    play_.stop();
    playing_ = false;
    if (!source_->open(path, error)) {
        openError_ = error;
        updateBanner();
        return false;
    }
    openError_.clear();
    readError_.clear();
    current_ = -1;
    count_ = source_->status().count;
    record_ = RecordingRecord{};
    view_->setRecord(nullptr, source_->header());
    cursors_.clear();
    clearFind();
    trendTable_.clear();
    trendFailed_ = false;
    if (measure_) measure_->disconnect(this);
    measure_.reset();
    trend_->setValues({}, QString());
    setWindowTitle(QFileInfo(path).fileName() + QStringLiteral(" - RV8 Viewer"));
    settings().setValue(QStringLiteral("lastFolder"), QFileInfo(path).absolutePath());
    goTo(0);
    sourceChanged();
    return true;
}

void ViewerWindow::refresh() {
    view_->refresh();
    // The marks after the refresh: they follow what it found (the window, the spectrum's bins).
    chart_->Marks(view_->hasRecord()
                      ? cursors_.marks(view_->facts(), {chart_->YMin(0), chart_->YMin(1)},
                                       {chart_->YMax(0), chart_->YMax(1)})
                      : kurvo::Marks{});
    updateTimeBar();
    updateStatus();
}

void ViewerWindow::timeChanged() {
    refresh();
}

void ViewerWindow::updateTimeBar() {
    updatingBars_ = true;
    const TimeWindow w = view_->facts().window;
    const int64_t frames = view_->facts().frames;
    const bool time = view_->hasRecord() && !view_->facts().spectrum;
    timeBar_->setRange(0, static_cast<int>(std::max<int64_t>(frames - w.count, 0)));
    timeBar_->setPageStep(static_cast<int>(std::max<int64_t>(w.count, 1)));
    timeBar_->setSingleStep(static_cast<int>(std::max<int64_t>(w.count / 10, 1)));
    timeBar_->setValue(static_cast<int>(w.start));
    timeBar_->setEnabled(time || view_->facts().spectrum);
    updatingBars_ = false;
}

void ViewerWindow::fit() {
    view_->axis().fit();
    refresh();
}

void ViewerWindow::zoomIn() {
    zoomBy(kKeyZoom);
}

void ViewerWindow::zoomOut() {
    zoomBy(1.0 / kKeyZoom);
}

void ViewerWindow::zoomBy(double factor) {
    // About the middle of the chart.
    const double width = chart_->width() * chart_->devicePixelRatioF();
    view_->axis().zoom(factor, width / 2.0, static_cast<int>(width), view_->facts().frames);
    refresh();
}

void ViewerWindow::toggleSpectrum() {
    const bool spectrum = action(QStringLiteral("spectrum"))->isChecked();
    view_->setMode(spectrum ? RecordView::Mode::Spectrum : RecordView::Mode::Time);
    refresh();
}

void ViewerWindow::toggleChannel1() {
    view_->setShown(action(QStringLiteral("channel1"))->isChecked(),
                    action(QStringLiteral("channel2"))->isChecked());
    // At least one channel stays shown, as the scope's channel boxes keep one ticked.
    action(QStringLiteral("channel1"))->setChecked(view_->shown()[0]);
    refresh();
}

void ViewerWindow::toggleChannel2() {
    const bool one = action(QStringLiteral("channel1"))->isChecked();
    const bool two = action(QStringLiteral("channel2"))->isChecked();
    view_->setShown(one || !two, two);
    if (!one && !two) {
        // Unticking the only channel shown ticks it again.
        action(QStringLiteral("channel2"))->setChecked(true);
        view_->setShown(false, true);
    }
    refresh();
}

void ViewerWindow::toggleMeasureWindow() {
    view_->setMeasureWindow(action(QStringLiteral("measureWindow"))->isChecked());
    refresh();
}

void ViewerWindow::toggleCursors() {
    cursors_.setOn(action(QStringLiteral("cursors"))->isChecked());
    refresh();
}

void ViewerWindow::clearCursors() {
    cursors_.clear();
    refresh();
}

void ViewerWindow::defaultRanges() {
    view_->defaultRanges();
    refresh();
}

}  // namespace rv8::viewer
