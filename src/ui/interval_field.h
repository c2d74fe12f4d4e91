#pragma once

// The interval field's typing rules: digits and backspace only, and at most two characters as
// typed, while a longer interval set by the program is still shown whole.

#include <QString>

class QKeyEvent;
class QLineEdit;

namespace ferry {

inline constexpr int kIntervalLength = 2; // characters the interval field takes as typed

// Digits and backspace pass; every other character is dropped (returns 0).
char IntervalKey(char key);

// True when the key press must not reach the field.
bool RefuseIntervalKey(const QKeyEvent& press, const QLineEdit& field);

// The user changed the text from `before` to `now` (a paste, say): what the change put in only
// fills the room left. Returns the text to show; `cursor` is where the caret goes then, or -1
// when `now` stands.
QString FitTypedInterval(const QString& before, const QString& now, int& cursor);

} // namespace ferry
