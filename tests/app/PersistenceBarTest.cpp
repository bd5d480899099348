// The persistence-depth bar HScroll1 runs from 32 at its left end to 0 at its right end. Every
// way of moving it, driven with real mouse and key events, must move the thumb the way the user
// pushed it and set the chart's depth to the value shown.
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>

#include "tests/app/FormFixture.h"

namespace rv8::testing {
namespace {

QStyleOptionSlider BarOption(const QScrollBar& bar) {
    QStyleOptionSlider opt;
    opt.initFrom(&bar);
    opt.subControls = QStyle::SC_All;
    opt.activeSubControls = QStyle::SC_None;
    opt.orientation = bar.orientation();
    if (bar.orientation() == Qt::Horizontal) opt.state |= QStyle::State_Horizontal;
    opt.minimum = bar.minimum();
    opt.maximum = bar.maximum();
    opt.sliderPosition = bar.sliderPosition();
    opt.sliderValue = bar.value();
    opt.singleStep = bar.singleStep();
    opt.pageStep = bar.pageStep();
    opt.upsideDown = bar.invertedAppearance();
    return opt;
}

QRect Part(const QScrollBar& bar, QStyle::SubControl part) {
    const QStyleOptionSlider opt = BarOption(bar);
    return bar.style()->subControlRect(QStyle::CC_ScrollBar, &opt, part, &bar);
}

QStyle::SubControl HitAt(const QScrollBar& bar, QPoint p) {
    const QStyleOptionSlider opt = BarOption(bar);
    return bar.style()->hitTestComplexControl(QStyle::CC_ScrollBar, &opt, p, &bar);
}

QRect Thumb(const QScrollBar& bar) {
    return Part(bar, QStyle::SC_ScrollBarSlider);
}

enum class Where { LeftArrow, RightArrow, TrackLeftOfThumb, TrackRightOfThumb };

// A point inside the place named, found through the style as it draws the bar now.
QPoint PointAt(const QScrollBar& bar, Where where) {
    const QRect sub = Part(bar, QStyle::SC_ScrollBarSubLine);
    const QRect add = Part(bar, QStyle::SC_ScrollBarAddLine);
    const QRect left = sub.x() < add.x() ? sub : add;
    const QRect right = sub.x() < add.x() ? add : sub;
    const QRect thumb = Thumb(bar);
    const int y = bar.height() / 2;
    switch (where) {
        case Where::LeftArrow:
            return left.center();
        case Where::RightArrow:
            return right.center();
        case Where::TrackLeftOfThumb:
            return {(left.right() + thumb.left()) / 2, y};
        case Where::TrackRightOfThumb:
            return {(thumb.right() + right.left()) / 2, y};
    }
    return {};
}

class PersistenceBar : public FormTest {
  protected:
    QScrollBar* bar = nullptr;

    void SetUp() override {
        FormTest::SetUp();
        Start();
        form->show();
        form->Check2->click();  // persistence on: the depth bar shows
        bar = form->HScroll1;
        ASSERT_TRUE(bar->isVisible());
    }
    void Place(int value) {
        bar->setValue(value);
        ASSERT_EQ(form->Kurvo1->persistenceDepth(), value);
    }
};

struct ClickCase {
    const char* name;
    int start;
    Where where;
    int value;       // after one click
    int thumbMoves;  // -1 left, +1 right, 0 stays
};
void PrintTo(const ClickCase& c, std::ostream* os) {
    *os << c.name;
}

class PersistenceBarClicks : public PersistenceBar,
                             public ::testing::WithParamInterface<ClickCase> {};

TEST_P(PersistenceBarClicks, MoveTheThumbTowardsTheClick) {
    const ClickCase& c = GetParam();
    Place(c.start);
    const QPoint p = PointAt(*bar, c.where);
    const QStyle::SubControl hit = HitAt(*bar, p);
    if (c.where == Where::TrackLeftOfThumb || c.where == Where::TrackRightOfThumb) {
        ASSERT_TRUE(hit == QStyle::SC_ScrollBarAddPage || hit == QStyle::SC_ScrollBarSubPage)
            << "not a point of the track: " << hit;
    } else {
        ASSERT_TRUE(hit == QStyle::SC_ScrollBarAddLine || hit == QStyle::SC_ScrollBarSubLine)
            << "not a point of an arrow: " << hit;
    }
    const int thumbBefore = Thumb(*bar).x();
    QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, p);
    EXPECT_EQ(bar->value(), c.value);
    EXPECT_EQ(form->Kurvo1->persistenceDepth(), c.value);
    const int moved = Thumb(*bar).x() - thumbBefore;
    EXPECT_EQ((moved > 0) - (moved < 0), c.thumbMoves) << "thumb moved by " << moved << " px";
}

INSTANTIATE_TEST_SUITE_P(
    Table, PersistenceBarClicks,
    ::testing::Values(ClickCase{"LeftArrowTowards32", 16, Where::LeftArrow, 17, -1},
                      ClickCase{"RightArrowTowards0", 16, Where::RightArrow, 15, +1},
                      ClickCase{"TrackLeftOfThumbTowards32", 16, Where::TrackLeftOfThumb, 17, -1},
                      ClickCase{"TrackRightOfThumbTowards0", 16, Where::TrackRightOfThumb, 15, +1},
                      ClickCase{"LeftArrowAtTheLeftEndStays", 32, Where::LeftArrow, 32, 0},
                      ClickCase{"RightArrowAtTheRightEndStays", 0, Where::RightArrow, 0, 0},
                      ClickCase{"LeftArrowFromTheRightEnd", 0, Where::LeftArrow, 1, -1},
                      ClickCase{"RightArrowFromTheLeftEnd", 32, Where::RightArrow, 31, +1}),
    [](const auto& info) { return std::string(info.param.name); });

struct KeyCase {
    const char* name;
    Qt::Key key;
    int value;  // from 16
    int thumbMoves;
};
void PrintTo(const KeyCase& c, std::ostream* os) {
    *os << c.name;
}

class PersistenceBarKeys : public PersistenceBar, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(PersistenceBarKeys, MoveTheThumbTheArrowsWay) {
    const KeyCase& c = GetParam();
    Place(16);
    const int thumbBefore = Thumb(*bar).x();
    QTest::keyClick(bar, c.key);
    EXPECT_EQ(bar->value(), c.value);
    EXPECT_EQ(form->Kurvo1->persistenceDepth(), c.value);
    const int moved = Thumb(*bar).x() - thumbBefore;
    EXPECT_EQ((moved > 0) - (moved < 0), c.thumbMoves) << "thumb moved by " << moved << " px";
}

INSTANTIATE_TEST_SUITE_P(Table, PersistenceBarKeys,
                         ::testing::Values(KeyCase{"Left", Qt::Key_Left, 17, -1},
                                           KeyCase{"Right", Qt::Key_Right, 15, +1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PersistenceBar, DraggingTheThumbLeftDeepensAsItGoesAndSettlesOnRelease) {
    Place(16);
    const QPoint grab = Thumb(*bar).center();
    ASSERT_EQ(HitAt(*bar, grab), QStyle::SC_ScrollBarSlider);
    QTest::mousePress(bar, Qt::LeftButton, Qt::NoModifier, grab);
    QTest::mouseMove(bar, grab - QPoint(12, 0));
    const int dragged = bar->sliderPosition();
    EXPECT_GT(dragged, 16);                                // left is deeper
    EXPECT_EQ(form->Kurvo1->persistenceDepth(), dragged);  // sliderMoved, while dragging
    EXPECT_EQ(bar->value(), 16);                           // not settled yet
    QTest::mouseMove(bar, grab + QPoint(12, 0));
    EXPECT_LT(bar->sliderPosition(), 16);  // right is shallower
    EXPECT_EQ(form->Kurvo1->persistenceDepth(), bar->sliderPosition());
    QTest::mouseMove(bar, grab - QPoint(12, 0));
    QTest::mouseRelease(bar, Qt::LeftButton, Qt::NoModifier, grab - QPoint(12, 0));
    EXPECT_EQ(bar->value(), dragged);
    EXPECT_EQ(form->Kurvo1->persistenceDepth(), dragged);
    // After the drag the arrows still step the right way.
    QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, PointAt(*bar, Where::LeftArrow));
    EXPECT_EQ(bar->value(), std::min(dragged + 1, 32));
    QTest::keyClick(bar, Qt::Key_Right);
    EXPECT_EQ(bar->value(), std::min(dragged + 1, 32) - 1);
}

}  // namespace
}  // namespace rv8::testing
