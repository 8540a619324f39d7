#pragma once

// Finding and working a window's controls by their object names, as its user would.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QStringList>
#include <QTest>
#include <algorithm>
#include <iterator>

template <typename T = QWidget>
T* Find(const QObject* window, const QString& name) {
    T* widget = window->findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name.toStdString();
    return widget;
}

// A mouse click near the left end, where even a check box's indicator is.
inline void Click(const QObject* window, const QString& name) {
    auto* button = Find<QAbstractButton>(window, name);
    QTest::mouseClick(button, Qt::LeftButton, {},
                      QPoint(std::min(10, button->width() / 2), button->height() / 2));
}

// The entry that is text, or a port list's entry for the port text names ("COM201  pts/3 ...").
inline int EntryOf(const QComboBox* combo, const QString& text) {
    const int exact = combo->findText(text);
    return exact >= 0 ? exact : combo->findText(text + " ", Qt::MatchStartsWith);
}

// Chooses text in the named list as a user does, which also activates the entry.
inline void Choose(const QObject* window, const QString& list, const QString& text) {
    auto* combo = Find<QComboBox>(window, list);
    const int index = EntryOf(combo, text);
    ASSERT_GE(index, 0) << list.toStdString() << " has no " << text.toStdString();
    combo->setCurrentIndex(index);
    emit combo->activated(index);
    emit combo->textActivated(text);
}

// The names among names whose controls are enabled.
inline QStringList Enabled(const QObject* window, const QStringList& names) {
    QStringList enabled;
    std::copy_if(names.begin(), names.end(), std::back_inserter(enabled),
                 [window](const QString& name) { return Find(window, name)->isEnabled(); });
    return enabled;
}
