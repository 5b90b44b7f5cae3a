// What an accessibility client reads of a scroll area (the Correction pane's): a child asked for
// by an index that was right a moment ago, before a scroll bar hid, is no child rather than a
// read past the end of the list.

#include <gtest/gtest.h>

#include <QAccessible>
#include <QListView>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTextEdit>

#include "app/support/scroll_area_accessibility.h"

namespace ravlin {
namespace {

TEST(ScrollAreaAccessibility, AnIndexPastTheChildrenThereAreNowIsNoChild) {
    installScrollAreaAccessibility();
    QScrollArea scroll;
    scroll.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll.setWidgetResizable(true);
    auto* content = new QWidget;
    content->setMinimumHeight(2000);
    scroll.setWidget(content);
    scroll.resize(300, 200);
    scroll.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&scroll));
    ASSERT_TRUE(QTest::qWaitFor([&] { return scroll.verticalScrollBar()->isVisible(); }));

    QAccessibleInterface* area = QAccessible::queryAccessibleInterface(&scroll);
    ASSERT_NE(area, nullptr);
    EXPECT_EQ(area->role(), QAccessible::Client);
    ASSERT_EQ(area->childCount(), 2) << "the viewport and the vertical bar's holder";
    EXPECT_EQ(area->child(0)->object(), scroll.viewport());
    EXPECT_EQ(area->indexOfChild(area->child(1)), 1);

    // The content shrinks: the bar hides between a client's count and its read of child 1.
    content->setMinimumHeight(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !scroll.verticalScrollBar()->isVisible(); }));
    EXPECT_EQ(area->childCount(), 1);
    for (const int index : {1, 2, 1000, -1}) {
        EXPECT_EQ(area->child(index), nullptr) << index;
    }
    EXPECT_EQ(area->child(0)->object(), scroll.viewport());
}

TEST(ScrollAreaAccessibility, TextFieldsAndListsKeepTheirOwnAnswer) {
    installScrollAreaAccessibility();
    QTextEdit text;
    QListView list;
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&text)->role(), QAccessible::EditableText);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&list)->role(), QAccessible::List);
}

}  // namespace
}  // namespace ravlin
